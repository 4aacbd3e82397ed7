#pragma once

#include <QJsonObject>
#include <QString>

#include <functional>

class QWidget;

// Writing files so that an interruption at any moment (a kill, a power cut)
// leaves each image exactly once: temporary files that never pass for
// images, data on disk before a file replaces or deletes another, and a
// journal that lets the next start finish a replacement that was cut off.
namespace durable {

// The temporary file a write of target goes through: beside the target, so
// the final rename stays within one file system, and hidden.
QString temporaryPathFor(const QString& target);

// True for the name of a file made by temporaryPathFor; such a file is never
// an image and, with no write under way, the leftover of an interrupted one.
bool isTemporaryName(const QString& name);

// Removes the leftover temporary files directly in folder. Best effort: a
// file that cannot be removed stays and is left out of listings.
void removeStaleTemporaries(const QString& folder);

// Writes the data of a completed file to disk. Throws
// modGlobal::FileSystemError.
void syncFile(const QString& path);

// Writes a folder's entries (a rename, a new name) to disk where the
// platform allows it. Throws modGlobal::FileSystemError.
void syncFolder(const QString& path);

// A write beyond the process's file-size limit ends the process by SIGXFSZ
// unless the signal is ignored; ignored, the write fails and is reported.
void ignoreFileSizeSignal();

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
