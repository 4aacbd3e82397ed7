#include "modGlobal.h"

#include "core/Causes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace modGlobal {

namespace {

std::filesystem::path nativePath(const QString& path) {
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

// Throws the cause when the folder's entries cannot be listed; QDir would
// give an empty list instead.
void requireListable(const QString& path) {
    std::error_code error;
    const std::filesystem::directory_iterator listing(nativePath(path), error);
    if (error)
        throw FileSystemError(QStringLiteral("Ordner lesen"), path,
                              core::systemCause(error.value()));
}

bool caseInsensitiveLess(const QString& a, const QString& b) {
    const int c = a.compare(b, Qt::CaseInsensitive);
    return c != 0 ? c < 0 : a < b;
}

} // namespace

bool FileSystem::FolderExists(const QString& path) const {
    return QFileInfo(path).isDir();
}

bool FileSystem::FileExists(const QString& path) const {
    const QFileInfo info(path);
    return info.exists() && !info.isDir();
}

void FileSystem::CreateFolder(const QString& path) const {
    const QString op = QStringLiteral("Ordner anlegen");
    const QFileInfo info(path);
    if (info.exists())
        throw FileSystemError(op, path,
                              info.isDir() ? QStringLiteral("Der Ordner besteht bereits.")
                                           : QStringLiteral("Eine Datei dieses Namens besteht."));
    if (!QFileInfo(info.absolutePath()).isDir())
        throw FileSystemError(op, path, QStringLiteral("Der übergeordnete Ordner fehlt."));
    std::error_code error;
    if (!std::filesystem::create_directory(nativePath(path), error))
        throw FileSystemError(op, path, core::systemCause(error ? error.value() : EEXIST));
}

QStringList FileSystem::SubFolders(const QString& path) const {
    if (!FolderExists(path))
        throw FileSystemError(QStringLiteral("Ordner lesen"), path,
                              QStringLiteral("Der Ordner ist nicht vorhanden."));
    requireListable(path);
    QStringList names =
        QDir(path).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    std::sort(names.begin(), names.end(), caseInsensitiveLess);
    return names;
}

QList<FileEntry> FileSystem::Files(const QString& path) const {
    if (!FolderExists(path))
        throw FileSystemError(QStringLiteral("Ordner lesen"), path,
                              QStringLiteral("Der Ordner ist nicht vorhanden."));
    requireListable(path);
    const QFileInfoList infos =
        QDir(path).entryInfoList(QDir::Files | QDir::Hidden | QDir::System, QDir::NoSort);
    QList<FileEntry> entries;
    entries.reserve(infos.size());
    for (const QFileInfo& info : infos)
        entries.append(
            {path + QLatin1Char('/') + info.fileName(), info.fileName(), info.lastModified()});
    std::sort(entries.begin(), entries.end(), [](const FileEntry& a, const FileEntry& b) {
        return caseInsensitiveLess(a.name, b.name);
    });
    return entries;
}

void FileSystem::DeleteFile(const QString& path, bool force) const {
    const QString op = QStringLiteral("Datei löschen");
    const QFileInfo info(path);
    if (!info.exists() || info.isDir())
        throw FileSystemError(op, path, QStringLiteral("Die Datei ist nicht vorhanden."));
    if (!force && !info.isWritable())
        throw FileSystemError(op, path, QStringLiteral("Die Datei ist schreibgeschützt."));
    if (std::remove(QFile::encodeName(path).constData()) != 0)
        throw FileSystemError(op, path, core::systemCause(errno));
}

void FileSystem::MoveFile(const QString& from, const QString& to) const {
    const QString op = QStringLiteral("Datei verschieben");
    if (!FileExists(from))
        throw FileSystemError(op, from, QStringLiteral("Die Datei ist nicht vorhanden."));
    if (QFileInfo::exists(to))
        throw FileSystemError(op, to, QStringLiteral("Das Ziel besteht bereits."));
    QFile file(from);
    if (!file.rename(to))
        throw FileSystemError(op, from + QStringLiteral(" → ") + to, core::fileCause(file));
}

void FileSystem::MoveFolder(const QString& from, const QString& to) const {
    const QString op = QStringLiteral("Ordner verschieben");
    if (!FolderExists(from))
        throw FileSystemError(op, from, QStringLiteral("Der Ordner ist nicht vorhanden."));
    if (QFileInfo::exists(to))
        throw FileSystemError(op, to, QStringLiteral("Das Ziel besteht bereits."));
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
        throw FileSystemError(op, from + QStringLiteral(" → ") + to, core::systemCause(errno));
}

FileSystem& fso() {
    static FileSystem fs;
    return fs;
}

} // namespace modGlobal
