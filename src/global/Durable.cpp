#include "Durable.h"

#include "modGlobal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
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

namespace durable {

namespace {

const QString kSyncOperation = QStringLiteral("Auf den Datenträger schreiben");
const QString kNewKey = QStringLiteral("new");
const QString kOldKey = QStringLiteral("old");
const QString kForceKey = QStringLiteral("force");
const QString kDetailsKey = QStringLiteral("details");

// Flushes an open file's data; throws naming path.
void syncHandle(int handle, const QString& path) {
#ifdef Q_OS_WIN
    const int result = ::_commit(handle);
#else
    const int result = ::fsync(handle);
#endif
    if (result != 0)
        throw modGlobal::FileSystemError(kSyncOperation, path, modGlobal::systemCause(errno));
}

// The journal is complete on disk before its name appears: written under a
// temporary name, synced, renamed, and the rename synced.
void writeJournal(const QJsonObject& entry) {
    const QString target = journalFile();
    const QString temporary = temporaryPathFor(target);
    const QByteArray bytes = QJsonDocument(entry).toJson(QJsonDocument::Compact);
    const QString operation = QStringLiteral("Vorgang vermerken");
    try {
        QFile file(temporary);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered | QIODevice::NewOnly))
            throw modGlobal::FileSystemError(operation, temporary, modGlobal::fileCause(file));
        if (file.write(bytes) != bytes.size())
            throw modGlobal::FileSystemError(operation, temporary, modGlobal::fileCause(file));
        syncHandle(file.handle(), temporary);
        file.close();
        std::error_code error;
        std::filesystem::rename(std::filesystem::path(temporary.toStdU16String()),
                                std::filesystem::path(target.toStdU16String()), error);
        if (error)
            throw modGlobal::FileSystemError(operation, target,
                                             modGlobal::systemCause(error.value()));
    } catch (...) {
        QFile::remove(temporary);
        throw;
    }
    syncFolder(QFileInfo(target).absolutePath());
}

// Carries out a journal entry; see completeInterruptedReplacement.
void finish(const QJsonObject& entry, QWidget* owner,
            const std::function<void(const QJsonObject&)>& completed) {
    const QString newFile = entry.value(kNewKey).toString();
    const QString oldFile = entry.value(kOldKey).toString();
    if (newFile.isEmpty() || oldFile.isEmpty())
        return;
    modGlobal::FileSystem& fs = modGlobal::fso();
    if (!fs.FileExists(newFile)) {
        removeStaleTemporaries(QFileInfo(newFile).absolutePath());
        return;
    }
    const QString operation =
        QStringLiteral("Das Abschließen des beim letzten Programmlauf unterbrochenen "
                       "Ersetzens von „%1“ durch „%2“")
            .arg(QDir::toNativeSeparators(oldFile), QDir::toNativeSeparators(newFile));
    if (fs.FileExists(oldFile) && !modGlobal::guarded(owner, operation, [&] {
            fs.DeleteFile(oldFile, entry.value(kForceKey).toBool());
        }))
        return;
    if (completed)
        modGlobal::guarded(owner, operation,
                           [&] { completed(entry.value(kDetailsKey).toObject()); });
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
        throw modGlobal::FileSystemError(kSyncOperation, path, modGlobal::fileCause(file));
    syncHandle(file.handle(), path);
}

void syncFolder(const QString& path) {
#ifdef Q_OS_WIN
    // Windows offers no flush of a folder; its file systems journal renames.
    Q_UNUSED(path);
#else
    const int handle = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY);
    if (handle < 0)
        throw modGlobal::FileSystemError(kSyncOperation, path, modGlobal::systemCause(errno));
    const int result = ::fsync(handle);
    const int cause = errno;
    ::close(handle);
    // EINVAL: the file system keeps no folder data of its own to flush.
    if (result != 0 && cause != EINVAL) {
        errno = cause;
        throw modGlobal::FileSystemError(kSyncOperation, path, modGlobal::systemCause(errno));
    }
#endif
}

void ignoreFileSizeSignal() {
#ifdef SIGXFSZ
    std::signal(SIGXFSZ, SIG_IGN);
#endif
}

Replacement::Replacement(const QString& newFile, const QString& oldFile, bool forceDelete,
                         const QJsonObject& details) {
    writeJournal(QJsonObject{
        {kNewKey, newFile}, {kOldKey, oldFile}, {kForceKey, forceDelete}, {kDetailsKey, details}});
}

Replacement::~Replacement() {
    QFile::remove(journalFile());
}

QString journalFile() {
    return modGlobal::workspaceRoot() + QStringLiteral("/Vorgang.json");
}

void completeInterruptedReplacement(QWidget* owner,
                                    const std::function<void(const QJsonObject&)>& completed) {
    // A journal cut while it was written left only its temporary file: its
    // replacement had not begun.
    removeStaleTemporaries(modGlobal::workspaceRoot());
    QFile file(journalFile());
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    file.close();
    finish(document.object(), owner, completed);
    if (!file.remove())
        modGlobal::reportFailure(
            owner, QStringLiteral("Das Entfernen des Vorgangsvermerks"),
            QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(file.fileName()),
                                         modGlobal::fileCause(file)));
}

} // namespace durable
