#include "core/AtomicFile.h"

#include "core/Causes.h"
#include "core/Error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUuid>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <system_error>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace core {

namespace {

const QString kSyncOperation = QStringLiteral("Auf den Datenträger schreiben");
const QString kWriteOperation = QStringLiteral("Datei schreiben");

// Flushes an open file's data; throws naming path.
void syncHandle(int handle, const QString& path) {
#ifdef Q_OS_WIN
    const int result = ::_commit(handle);
#else
    const int result = ::fsync(handle);
#endif
    if (result != 0)
        throw FileSystemError(kSyncOperation, path, systemCause(errno));
}

} // namespace

QString temporaryPathFor(const QString& target) {
    const QFileInfo info(target);
    return QDir(info.absolutePath())
        .filePath(QStringLiteral(".%1.%2.tmp")
                      .arg(info.fileName(), QUuid::createUuid().toString(QUuid::Id128)));
}

bool isTemporaryName(const QString& name) {
    static const QRegularExpression pattern(QStringLiteral("^\\..+\\.[0-9a-f]{32}\\.tmp$"));
    return pattern.match(name).hasMatch();
}

void removeStaleTemporaries(const QString& folder) {
    const QDir dir(folder);
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        if (isTemporaryName(name))
            QFile::remove(dir.filePath(name));
    }
}

void syncFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly))
        throw FileSystemError(kSyncOperation, path, fileCause(file));
    syncHandle(file.handle(), path);
}

void syncFolder(const QString& path) {
#ifdef Q_OS_WIN
    // Windows offers no flush of a folder; its file systems journal renames.
    Q_UNUSED(path);
#else
    const int handle = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY);
    if (handle < 0)
        throw FileSystemError(kSyncOperation, path, systemCause(errno));
    const int result = ::fsync(handle);
    const int cause = errno;
    ::close(handle);
    // EINVAL: the file system keeps no folder data of its own to flush.
    if (result != 0 && cause != EINVAL)
        throw FileSystemError(kSyncOperation, path, systemCause(cause));
#endif
}

void ignoreFileSizeSignal() {
#ifdef SIGXFSZ
    std::signal(SIGXFSZ, SIG_IGN);
#endif
}

void replaceFile(const QString& target,
                 const std::function<void(const QString& temporary)>& write) {
    const QFileInfo info(target);
    const QString temporary = temporaryPathFor(target);
    try {
        write(temporary);
        if (info.exists())
            QFile::setPermissions(temporary, info.permissions());
        syncFile(temporary);
        std::error_code error;
        std::filesystem::rename(std::filesystem::path(temporary.toStdU16String()),
                                std::filesystem::path(target.toStdU16String()), error);
        if (error)
            throw FileSystemError(kWriteOperation, target, systemCause(error.value()));
    } catch (...) {
        QFile::remove(temporary);
        throw;
    }
    // On disk before the caller deletes anything on the strength of it.
    syncFolder(info.absolutePath());
}

void replaceFile(const QString& target, const QByteArray& bytes) {
    // A target the user may not write is refused: tried by opening it
    // without truncation, so the answer is the system's, not the bits'.
    QFile existing(target);
    if (existing.exists() && !existing.open(QIODevice::WriteOnly | QIODevice::Append))
        throw FileSystemError(kWriteOperation, target, fileCause(existing));
    existing.close();
    replaceFile(target, [&](const QString& temporary) {
        // Unbuffered, a short write (disk full, size limit) is seen here;
        // through a buffer it would be lost until the file is closed.
        QFile file(temporary);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered | QIODevice::NewOnly) ||
            file.write(bytes) != bytes.size())
            throw FileSystemError(kWriteOperation, target, fileCause(file));
    });
}

} // namespace core
