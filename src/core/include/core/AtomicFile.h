#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

// Writing files so that an interruption at any moment (a failed write, a
// kill, a power cut) leaves either the old file or the complete new one:
// temporary files that never pass for the files they become, data on disk
// before a file replaces another.
namespace core {

// The temporary file a write of target goes through: beside the target, so
// the final rename stays within one file system, and hidden.
QString temporaryPathFor(const QString& target);

// True for the name of a file made by temporaryPathFor; such a file is never
// an image and, with no write under way, the leftover of an interrupted one.
bool isTemporaryName(const QString& name);

// Removes the leftover temporary files directly in folder. Best effort: a
// file that cannot be removed stays and is left out of listings.
void removeStaleTemporaries(const QString& folder);

// Writes the data of a completed file to disk. Throws FileSystemError.
void syncFile(const QString& path);

// Writes a folder's entries (a rename, a new name) to disk where the
// platform allows it. Throws FileSystemError.
void syncFolder(const QString& path);

// A write beyond the process's file-size limit ends the process by SIGXFSZ
// unless the signal is ignored; ignored, the write fails and is reported.
void ignoreFileSizeSignal();

// Replaces target by a complete file, or leaves it as it was. write makes
// the new file at the temporary path it is given (beside the target) and
// throws when it cannot, also when it finds the file short; the file then
// takes an existing target's permissions, is synced, renamed over the
// target, and the rename synced. On any failure the temporary file is
// removed and the exception passes on: the writer's own, or FileSystemError.
void replaceFile(const QString& target, const std::function<void(const QString& temporary)>& write);

// The same for bytes, with a short write detected. A target the user may
// not write is refused.
void replaceFile(const QString& target, const QByteArray& bytes);

} // namespace core
