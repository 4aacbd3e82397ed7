#pragma once

#include <QString>

// Access to the settings file, a sectioned "key=value" text file that other
// programs may have written too. Reads and writes go straight to the file:
// there is no in-memory copy, and a write changes only the one line it needs,
// so comments, other sections, other keys and their order keep their bytes.
//
// Section and key names match case-insensitively; blanks around keys and
// values are trimmed on reading; lines starting with ';' or '#' are comments;
// the first of several equal keys counts. Lines end at LF, CR LF or a lone
// CR. A file with a byte-order mark is UTF-16 (LE or BE) or UTF-8; without
// one, a file that is valid UTF-8 is UTF-8 and any other is in the Western
// European Windows code page (windows-1252). Values are written in the file's
// own encoding, new lines with the file's line end; a new file is UTF-8.
namespace modINI {

// Workspace root + "/Settings.ini", built anew on every call.
QString settingsFile();

// The value of key in section, or defaultValue when the file, the section or
// the key is missing. At most size - 1 characters are returned (nothing for a
// size below 2). Never creates the file.
QString ReadIniValue(const QString& section, const QString& key, const QString& defaultValue,
                     const QString& fileName, int size);

// Sets key in section to value: the key's line is updated in place, a missing
// key is appended to its section, a missing section to the file, and a
// missing file is created. The file is replaced only by a complete new
// version. Returns false, leaving the file as it was and giving the German
// cause, when it cannot be read or written, when the file's code page lacks
// a character of the value, or when a name or the value would break the
// file's structure (line breaks, an empty key, '=' in the key, ']' in the
// section).
bool WritePrivateProfileString(const QString& section, const QString& key, const QString& value,
                               const QString& fileName, QString* cause = nullptr);

} // namespace modINI
