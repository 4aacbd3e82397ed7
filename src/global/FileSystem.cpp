#include "global/modGlobal.h"

#include "core/Causes.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>

namespace modGlobal {

namespace {

// UTF-16 in, the platform's own file-name encoding out (wide on Windows).
std::filesystem::path nativePath(const QString& path) {
    return std::filesystem::path(path.toStdU16String());
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

QList<FileEntry> FileSystem::Files(const QString& path, FileTimes times) const {
    if (!FolderExists(path))
        throw FileSystemError(QStringLiteral("Ordner lesen"), path,
                              QStringLiteral("Der Ordner ist nicht vorhanden."));
    requireListable(path);
    constexpr QDir::Filters filter = QDir::Files | QDir::Hidden | QDir::System;
    QList<FileEntry> entries;
    if (times == FileTimes::With) {
        const QFileInfoList infos = QDir(path).entryInfoList(filter, QDir::NoSort);
        entries.reserve(infos.size());
        for (const QFileInfo& info : infos)
            entries.append(
                {path + QLatin1Char('/') + info.fileName(), info.fileName(), info.lastModified()});
    } else {
        // Names alone: the directory listing tells files apart without a stat,
        // and the iterator builds no file information list as QDir does.
        QDirIterator names(path, filter);
        while (names.hasNext()) {
            names.next();
            const QString name = names.fileName();
            entries.append({path + QLatin1Char('/') + name, name, {}});
        }
    }
    // In caseInsensitiveLess order, each name folded once rather than at
    // every comparison: case-folded names compare as the names do without
    // case.
    QList<std::pair<QString, FileEntry>> keyed;
    keyed.reserve(entries.size());
    for (FileEntry& entry : entries)
        keyed.append({entry.name.toCaseFolded(), std::move(entry)});
    std::sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first : a.second.name < b.second.name;
    });
    for (qsizetype i = 0; i < keyed.size(); ++i)
        entries[i] = std::move(keyed[i].second);
    return entries;
}

void FileSystem::RemoveFile(const QString& path, bool force) const {
    const QString op = QStringLiteral("Datei löschen");
    const QFileInfo info(path);
    if (!info.exists() || info.isDir())
        throw FileSystemError(op, path, QStringLiteral("Die Datei ist nicht vorhanden."));
    // Read-only also by the permission bits alone: for root isWritable() holds for every file.
    constexpr auto anyWrite =
        QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    if (!force && (!info.isWritable() || !(info.permissions() & anyWrite)))
        throw FileSystemError(op, path, QStringLiteral("Die Datei ist schreibgeschützt."));
    // Forced, a read-only file goes too; Windows refuses to delete one.
    if (force && !(info.permissions() & QFileDevice::WriteOwner))
        QFile::setPermissions(path, info.permissions() | QFileDevice::WriteOwner |
                                        QFileDevice::WriteUser);
    QFile file(path);
    if (!file.remove())
        throw FileSystemError(op, path, core::fileCause(file));
}

void FileSystem::MoveFileTo(const QString& from, const QString& to) const {
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
    std::error_code error;
    std::filesystem::rename(nativePath(from), nativePath(to), error);
    if (error)
        throw FileSystemError(op, from + QStringLiteral(" → ") + to,
                              core::systemCause(error.value()));
}

FileSystem& fso() {
    static FileSystem fs;
    return fs;
}

} // namespace modGlobal
