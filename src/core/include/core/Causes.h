#pragma once

#include <QString>

class QFileDevice;

// The causes of failed file operations in German, from one table of the
// common C library error numbers.
namespace core {

// The cause as a German sentence, for a C library error number. An uncommon
// error keeps the system's own text after a German lead-in.
QString systemCause(int errorNumber);

// The same for a failed Qt file, whose error text quotes the C library's.
QString fileCause(const QFileDevice& file);

// The cause as a German phrase to follow a colon inside a sentence; empty
// for an error number without one.
QString systemCausePhrase(int errorNumber);

// The common error number whose C library text is text, for libraries that
// report an error only by that text; 0 when it is none of them.
int errorNumberOfText(const char* text);

} // namespace core
