#include "modGlobal.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDevice>
#include <QFileInfo>
#include <QFont>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryFile>
#include <QWidget>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <system_error>

namespace modGlobal {

namespace {

QString g_root;
bool g_rootSet = false;
QString g_startLine = QStringLiteral("0");
QPointer<QWidget> g_locked;
MessageHandler g_handler;

struct KnownCause {
    int errorNumber;
    const char* english; // Qt's own text for it, where Qt has one
    const char* german;
};

// The common causes of a failed file operation. Qt reports EACCES, EMFILE,
// ENOENT and ENOSPC in English whatever the locale; other errors in the C
// library's words.
const KnownCause kCauses[] = {
    {EACCES, "Permission denied", "Es fehlt die Berechtigung für diesen Zugriff."},
    {EPERM, nullptr, "Es fehlt die Berechtigung für diesen Zugriff."},
    {ENOSPC, "No space left on device", "Der Datenträger ist voll."},
#ifdef EDQUOT
    {EDQUOT, nullptr, "Der Datenträger ist voll (der erlaubte Speicherplatz ist ausgeschöpft)."},
#endif
    {EFBIG, nullptr, "Die Datei wird zu groß für den Datenträger oder die erlaubte Dateigröße."},
    {ENOENT, "No such file or directory", "Die Datei oder der Ordner ist nicht vorhanden."},
    {ENOTDIR, nullptr, "Ein Teil des Pfades ist kein Ordner, sondern eine Datei."},
    {EISDIR, nullptr, "An dieser Stelle steht ein Ordner, keine Datei."},
    {EEXIST, nullptr, "Das Ziel besteht bereits."},
    {ENOTEMPTY, nullptr, "Der Ordner ist nicht leer."},
    {EBUSY, nullptr, "Die Datei ist von einem anderen Programm in Gebrauch."},
    {ETXTBSY, nullptr, "Die Datei ist von einem anderen Programm in Gebrauch."},
    {EROFS, nullptr, "Der Datenträger ist schreibgeschützt."},
    {EIO, nullptr,
     "Der Datenträger meldet einen Lese- oder Schreibfehler; er ist vielleicht beschädigt "
     "oder nicht mehr verbunden."},
    {ENAMETOOLONG, nullptr, "Der Name oder Pfad ist zu lang."},
    {EMFILE, "Too many open files", "Es sind zu viele Dateien gleichzeitig geöffnet."},
    {ENFILE, nullptr, "Es sind zu viele Dateien gleichzeitig geöffnet."},
    {ENOMEM, nullptr, "Es ist nicht genügend Arbeitsspeicher frei."},
    {EXDEV, nullptr, "Das Ziel liegt auf einem anderen Datenträger."},
};

QString systemText(int errorNumber) {
    return QString::fromLocal8Bit(std::strerror(errorNumber));
}

std::filesystem::path nativePath(const QString& path) {
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

// Throws the cause when the folder's entries cannot be listed; QDir would
// give an empty list instead.
void requireListable(const QString& path) {
    std::error_code error;
    const std::filesystem::directory_iterator listing(nativePath(path), error);
    if (error)
        throw FileSystemError(QStringLiteral("Ordner lesen"), path, systemCause(error.value()));
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

bool holdsWorkspace(const QString& folder) {
    for (const char* name : {"/Messungen", "/NoDCM", "/Settings.ini"})
        if (QFileInfo::exists(folder + QLatin1String(name)))
            return true;
    return false;
}

bool canWriteIn(const QString& folder) {
    QTemporaryFile probe(folder + QStringLiteral("/.kalvara-write-test-XXXXXX"));
    return probe.open();
}

WorkspaceChoice chooseWorkspace(const QString& besideExecutable, const QString& perUser,
                                const std::function<bool(const QString&)>& writable) {
    if (holdsWorkspace(besideExecutable) || writable(besideExecutable))
        return {besideExecutable, false};
    QDir().mkpath(perUser);
    return {perUser, true};
}

// ---------------------------------------------------------------- causes

QString systemCause(int errorNumber) {
    for (const KnownCause& known : kCauses)
        if (known.errorNumber == errorNumber)
            return QString::fromUtf8(known.german);
    return QStringLiteral("Das System meldet: \u201E%1\u201C.").arg(systemText(errorNumber));
}

QString fileCause(const QFileDevice& file) {
    const QString text = file.errorString();
    for (const KnownCause& known : kCauses)
        if ((known.english && text.contains(QLatin1String(known.english))) ||
            text.contains(systemText(known.errorNumber)))
            return QString::fromUtf8(known.german);
    // QSaveFile's own words for a target that may not be written.
    if (text.contains(QLatin1String("is not writable")))
        return systemCause(EACCES);
    // A write cut short sets no error, or one without an error number; a full
    // medium or the file-size limit is what cuts it.
    if (file.error() == QFileDevice::NoError || file.error() == QFileDevice::WriteError)
        return QStringLiteral("Die Datei konnte nicht vollständig geschrieben werden; der "
                              "Datenträger ist vermutlich voll.");
    return QStringLiteral("Das System meldet: \u201E%1\u201C.").arg(text);
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
    std::error_code error;
    if (!std::filesystem::create_directory(nativePath(path), error))
        throw FileSystemError(op, path, systemCause(error ? error.value() : EEXIST));
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
    // Read-only also by the permission bits alone: for root isWritable() holds for every file.
    constexpr auto anyWrite =
        QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    if (!force && (!info.isWritable() || !(info.permissions() & anyWrite)))
        throw FileSystemError(op, path, QStringLiteral("Die Datei ist schreibgeschützt."));
    if (std::remove(QFile::encodeName(path).constData()) != 0)
        throw FileSystemError(op, path, systemCause(errno));
}

void FileSystem::MoveFile(const QString& from, const QString& to) const {
    const QString op = QStringLiteral("Datei verschieben");
    if (!FileExists(from))
        throw FileSystemError(op, from, QStringLiteral("Die Datei ist nicht vorhanden."));
    if (QFileInfo::exists(to))
        throw FileSystemError(op, to, QStringLiteral("Das Ziel besteht bereits."));
    QFile file(from);
    if (!file.rename(to))
        throw FileSystemError(op, from + QStringLiteral(" → ") + to, fileCause(file));
}

void FileSystem::MoveFolder(const QString& from, const QString& to) const {
    const QString op = QStringLiteral("Ordner verschieben");
    if (!FolderExists(from))
        throw FileSystemError(op, from, QStringLiteral("Der Ordner ist nicht vorhanden."));
    if (QFileInfo::exists(to))
        throw FileSystemError(op, to, QStringLiteral("Das Ziel besteht bereits."));
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
        throw FileSystemError(op, from + QStringLiteral(" → ") + to, systemCause(errno));
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

namespace {

QString internalFault(const QString& operation, const std::exception& e) {
    qWarning("%s: %s", qUtf8Printable(operation), e.what());
    return QStringLiteral("Im Programm ist ein interner Fehler aufgetreten; der Schritt wurde "
                          "abgebrochen.");
}

} // namespace

QString exceptionCause(const QString& operation) {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return QStringLiteral("Für diesen Schritt ist nicht genügend Arbeitsspeicher frei.");
    } catch (const std::system_error& e) {
        const std::error_category& category = e.code().category();
        if (category != std::generic_category() && category != std::system_category())
            return internalFault(operation, e);
        return systemCause(e.code().value());
    } catch (const std::range_error& e) {
        return internalFault(operation, e);
    } catch (const std::overflow_error& e) {
        return internalFault(operation, e);
    } catch (const std::underflow_error& e) {
        return internalFault(operation, e);
    } catch (const std::runtime_error& e) {
        return QString::fromUtf8(e.what());
    } catch (const std::exception& e) {
        return internalFault(operation, e);
    } catch (...) {
        return QStringLiteral("Im Programm ist ein unbekannter Fehler aufgetreten; der Schritt "
                              "wurde abgebrochen.");
    }
}

bool guarded(QWidget* owner, const QString& operation, const std::function<void()>& step) {
    try {
        step();
        return true;
    } catch (...) {
        reportFailure(owner, operation, exceptionCause(operation));
    }
    return false;
}

} // namespace modGlobal
