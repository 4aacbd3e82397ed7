#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include "core/Error.h"

#include <functional>

class QFont;
class QWidget;

// Shared state of the whole program: workspace root, file-system service,
// start-line value, window-repaint lock and the message-box seam.
namespace modGlobal {

// The application title used for every message box.
inline const QString kAppTitle = QStringLiteral("Kalvara");

// ---------------------------------------------------------------- workspace

// The folder that holds the executable (no trailing separator), unless a
// test or the start-up has pointed it elsewhere.
QString workspaceRoot();
void setWorkspaceRoot(const QString& root);

// A folder holds a workspace when "Messungen", "NoDCM" or "Settings.ini" is in it.
bool holdsWorkspace(const QString& folder);

// Whether a file can be created in the folder: tried with a temporary file,
// not judged from permission bits.
bool canWriteIn(const QString& folder);

struct WorkspaceChoice {
    QString root;
    bool perUser = false; // the folder beside the executable was passed over
};

// The workspace beside the executable, when one is there (its failed writes
// are reported as they happen) or when that folder can be written; only
// otherwise the per-user folder, which is created when missing.
WorkspaceChoice chooseWorkspace(const QString& besideExecutable, const QString& perUser,
                                const std::function<bool(const QString&)>& writable = canWriteIn);

// ---------------------------------------------------------------- file system

// A failed file-system operation; what() is a German sentence naming the
// operation, the path and the cause.
using FileSystemError = core::FileSystemError;

struct FileEntry {
    QString path;           // full path
    QString name;           // file name with extension
    QDateTime lastModified; // invalid when listed without times
};

// Whether a listing gives each file's modification time, one stat per file.
enum class FileTimes { With, Without };

// The file-system service: every folder and file test and operation of the
// windows goes through it. Listings are in case-insensitive name order.
class FileSystem {
public:
    bool FolderExists(const QString& path) const;
    bool FileExists(const QString& path) const;
    // Creates one folder level; the parent must exist.
    void CreateFolder(const QString& path) const;
    // Names of the subfolders of a folder; throws when it is not a folder.
    QStringList SubFolders(const QString& path) const;
    // Files directly in a folder; throws when it is not a folder.
    QList<FileEntry> Files(const QString& path, FileTimes times = FileTimes::With) const;
    // Without force a file the user may not write (read-only) is refused.
    void RemoveFile(const QString& path, bool force) const;
    // Refuses to replace an existing target.
    void MoveFileTo(const QString& from, const QString& to) const;
    void MoveFolder(const QString& from, const QString& to) const;
};

FileSystem& fso();

// ---------------------------------------------------------------- start line

QString startLine();
void setStartLine(const QString& value);

// ---------------------------------------------------------------- repaint lock

// Stops repainting of one window; refused (false) while another window holds
// the lock. Passing nullptr releases the lock and repaints the window.
bool LockWindowUpdate(QWidget* window);
QWidget* lockedWindow();

// ---------------------------------------------------------------- messages

enum class Icon { None, Information, Question, Warning, Critical };
// SaveDiscardCancel: "Speichern", "Verwerfen", "Abbrechen"; closing the box
// answers Cancel.
enum class Buttons { Ok, YesNo, SaveDiscardCancel };
enum class Answer { Ok, Yes, No, Save, Discard, Cancel };

struct Message {
    // The window that raised the message: the box is centred on it and modal
    // to it. Null only where no window exists yet.
    QWidget* owner = nullptr;
    QString title;
    QString text;
    Icon icon = Icon::None;
    Buttons buttons = Buttons::Ok;
    Answer defaultButton = Answer::Ok;
};

using MessageHandler = std::function<Answer(const Message&)>;

// Replaces how messages are shown (tests answer them); returns the previous
// handler. An empty handler restores the QMessageBox.
MessageHandler setMessageHandler(MessageHandler handler);

Answer MsgBox(QWidget* owner, const QString& text, Icon icon = Icon::None,
              Buttons buttons = Buttons::Ok, Answer defaultButton = Answer::Ok,
              const QString& title = kAppTitle);

// ---------------------------------------------------------------- fonts

// Tahoma where installed, else a sans-serif font of about its width (Liberation
// Sans, Arial, DejaVu Sans) of the same size and weight, so captions fit the
// design widths.
QFont tahoma(double pointSize, bool bold);

// ---------------------------------------------------------------- failures

// How guarded() words a failed step's message beyond the cause.
struct StepReport {
    Icon icon = Icon::Critical;
    // The first paragraph; empty: "<operation> ist fehlgeschlagen.". A step
    // whose command has done its main work says so here, with Icon::Warning.
    QString lead;
    // A last paragraph, such as what became of the file; empty: none.
    QString note;

    static StepReport critical(const QString& note) { return {Icon::Critical, {}, note}; }
    static StepReport warning(const QString& lead) { return {Icon::Warning, lead, {}}; }
};

// Runs one step of a handler. A thrown exception ends the step, a message
// titled "Kalvara" on owner's window gives the lead, the cause and the note
// (by default a critical one naming the operation), and false is returned
// so the handler can stop; the program keeps running. The program's own
// errors derive from core::Error and carry a German text; system errors and
// lack of memory get a German cause, and any other exception a German note
// (its English text goes to the log under operation).
bool guarded(QWidget* owner, const QString& operation, const std::function<void()>& step,
             const StepReport& report = {});

// The German cause of the exception being handled, as guarded() gives it;
// call it only inside a catch block.
QString exceptionCause(const QString& operation);

// Shows the critical failure message for an operation.
void reportFailure(QWidget* owner, const QString& operation, const QString& cause);

} // namespace modGlobal
