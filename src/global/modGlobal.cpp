#include "modGlobal.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QWidget>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace modGlobal {

namespace {

QString g_root;
bool g_rootSet = false;
QString g_startLine = QStringLiteral("0");
QPointer<QWidget> g_locked;
MessageHandler g_handler;

QString systemCause() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool caseInsensitiveLess(const QString& a, const QString& b) {
    const int c = a.compare(b, Qt::CaseInsensitive);
    return c != 0 ? c < 0 : a < b;
}

Answer showQMessageBox(const Message& m) {
    QWidget* window = m.owner ? m.owner->window() : nullptr;
    QMessageBox box(window);
    if (window)
        box.setWindowModality(Qt::WindowModal);
    box.setWindowTitle(m.title);
    box.setText(m.text);
    switch (m.icon) {
    case Icon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case Icon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    case Icon::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case Icon::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    case Icon::None:
        break;
    }
    if (m.buttons == Buttons::YesNo) {
        QPushButton* yes = box.addButton(QStringLiteral("&Ja"), QMessageBox::YesRole);
        QPushButton* no = box.addButton(QStringLiteral("&Nein"), QMessageBox::NoRole);
        box.setDefaultButton(m.defaultButton == Answer::No ? no : yes);
        box.setEscapeButton(no);
        box.exec();
        return box.clickedButton() == yes ? Answer::Yes : Answer::No;
    }
    box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.exec();
    return Answer::Ok;
}

} // namespace

QString workspaceRoot() {
    if (g_rootSet)
        return g_root;
    return QCoreApplication::applicationDirPath();
}

void setWorkspaceRoot(const QString& root) {
    g_root = root;
    while (g_root.size() > 1 && g_root.endsWith(QLatin1Char('/')))
        g_root.chop(1);
    g_rootSet = true;
}

// ---------------------------------------------------------------- file system

FileSystemError::FileSystemError(const QString& operation, const QString& path,
                                 const QString& cause)
    : std::runtime_error(
          QStringLiteral("%1 nicht möglich: %2\n%3").arg(operation, path, cause).toStdString()),
      m_operation(operation), m_path(path), m_cause(cause) {}

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
    if (!QDir().mkdir(path))
        throw FileSystemError(op, path, QStringLiteral("Keine Berechtigung oder kein Platz."));
}

QStringList FileSystem::SubFolders(const QString& path) const {
    if (!FolderExists(path))
        throw FileSystemError(QStringLiteral("Ordner lesen"), path,
                              QStringLiteral("Der Ordner ist nicht vorhanden."));
    QStringList names =
        QDir(path).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    std::sort(names.begin(), names.end(), caseInsensitiveLess);
    return names;
}

QList<FileEntry> FileSystem::Files(const QString& path) const {
    if (!FolderExists(path))
        throw FileSystemError(QStringLiteral("Ordner lesen"), path,
                              QStringLiteral("Der Ordner ist nicht vorhanden."));
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
        throw FileSystemError(op, path, systemCause());
}

void FileSystem::MoveFile(const QString& from, const QString& to) const {
    const QString op = QStringLiteral("Datei verschieben");
    if (!FileExists(from))
        throw FileSystemError(op, from, QStringLiteral("Die Datei ist nicht vorhanden."));
    if (QFileInfo::exists(to))
        throw FileSystemError(op, to, QStringLiteral("Das Ziel besteht bereits."));
    if (!QFile::rename(from, to))
        throw FileSystemError(op, from + QStringLiteral(" → ") + to,
                              QStringLiteral("Die Datei ist in Gebrauch oder der Ordner "
                                             "schreibgeschützt."));
}

void FileSystem::MoveFolder(const QString& from, const QString& to) const {
    const QString op = QStringLiteral("Ordner verschieben");
    if (!FolderExists(from))
        throw FileSystemError(op, from, QStringLiteral("Der Ordner ist nicht vorhanden."));
    if (QFileInfo::exists(to))
        throw FileSystemError(op, to, QStringLiteral("Das Ziel besteht bereits."));
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
        throw FileSystemError(op, from + QStringLiteral(" → ") + to, systemCause());
}

FileSystem& fso() {
    static FileSystem fs;
    return fs;
}

// ---------------------------------------------------------------- start line

QString startLine() {
    return g_startLine;
}
void setStartLine(const QString& value) {
    g_startLine = value;
}

// ---------------------------------------------------------------- repaint lock

bool LockWindowUpdate(QWidget* window) {
    if (!window) {
        if (QWidget* held = g_locked.data()) {
            held->setUpdatesEnabled(true);
            held->update();
        }
        g_locked.clear();
        return true;
    }
    if (g_locked)
        return false;
    g_locked = window;
    window->setUpdatesEnabled(false);
    return true;
}

QWidget* lockedWindow() {
    return g_locked.data();
}

// ---------------------------------------------------------------- messages

MessageHandler setMessageHandler(MessageHandler handler) {
    MessageHandler previous = std::move(g_handler);
    g_handler = std::move(handler);
    return previous;
}

Answer MsgBox(QWidget* owner, const QString& text, Icon icon, Buttons buttons, Answer defaultButton,
              const QString& title) {
    const Message m{owner, title, text, icon, buttons, defaultButton};
    if (g_handler)
        return g_handler(m);
    return showQMessageBox(m);
}

// ---------------------------------------------------------------- fonts

QFont tahoma(double pointSize, bool bold) {
    static const bool substituted = [] {
        QFont::insertSubstitutions(QStringLiteral("Tahoma"),
                                   {QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                                    QStringLiteral("DejaVu Sans")});
        return true;
    }();
    Q_UNUSED(substituted);
    QFont font(QStringLiteral("Tahoma"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

// ---------------------------------------------------------------- failures

void reportFailure(QWidget* owner, const QString& operation, const QString& cause) {
    MsgBox(owner, QStringLiteral("%1 ist fehlgeschlagen.\n\n%2").arg(operation, cause),
           Icon::Critical);
}

bool guarded(QWidget* owner, const QString& operation, const std::function<void()>& step) {
    try {
        step();
        return true;
    } catch (const std::exception& e) {
        reportFailure(owner, operation, QString::fromUtf8(e.what()));
    } catch (...) {
        reportFailure(owner, operation, QStringLiteral("Unbekannter Fehler."));
    }
    return false;
}

} // namespace modGlobal
