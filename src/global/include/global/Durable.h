#pragma once

#include <QJsonObject>
#include <QString>

#include <functional>

class QWidget;

// The journal that lets the next start finish a replacement of one file by
// another that an interruption (a kill, a power cut) cut off, so each image
// exists exactly once.
namespace durable {

// A file that takes the place of another: while it lives, the journal in the
// workspace says that newFile, once it exists, replaces oldFile, and keeps
// the caller's details of what else follows from it. Constructing it writes
// the journal to disk (throws modGlobal::FileSystemError, and then nothing
// has happened); destroying it removes the journal, so only an interrupted
// replacement leaves one behind.
class Replacement {
public:
    Replacement(const QString& newFile, const QString& oldFile, bool forceDelete,
                const QJsonObject& details = {});
    ~Replacement();
    Replacement(const Replacement&) = delete;
    Replacement& operator=(const Replacement&) = delete;
};

// The journal file in the workspace.
QString journalFile();

// Finishes a replacement that was cut off, from its journal: when the new
// file exists the old one is deleted and completed is called with the
// replacement's details (it must tolerate having run before), otherwise the
// new file's temporary leftovers go and the old file stays. Either way each
// file exists once and the journal is removed. A step that fails is reported
// on owner's window.
void completeInterruptedReplacement(
    QWidget* owner, const std::function<void(const QJsonObject& details)>& completed = {});

} // namespace durable
