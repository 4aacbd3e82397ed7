#include "global/modGlobal.h"

#include "core/Causes.h"
#include "core/Error.h"
#include "core/Names.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryFile>
#include <QWidget>

#include <new>
#include <system_error>

namespace modGlobal {

namespace {

QString g_root;
bool g_rootSet = false;
QString g_startLine = QStringLiteral("0");
QPointer<QWidget> g_locked;
MessageHandler g_handler;

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
    if (m.buttons == Buttons::SaveDiscardCancel) {
        QPushButton* save = box.addButton(QStringLiteral("&Speichern"), QMessageBox::AcceptRole);
        QPushButton* discard =
            box.addButton(QStringLiteral("&Verwerfen"), QMessageBox::DestructiveRole);
        QPushButton* cancel = box.addButton(QStringLiteral("Abbrechen"), QMessageBox::RejectRole);
        box.setDefaultButton(m.defaultButton == Answer::Save      ? save
                             : m.defaultButton == Answer::Discard ? discard
                                                                  : cancel);
        box.setEscapeButton(cancel);
        box.exec();
        return box.clickedButton() == save      ? Answer::Save
               : box.clickedButton() == discard ? Answer::Discard
                                                : Answer::Cancel;
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
    for (const QString& name :
         {core::names::kMeasurements, core::names::kWaiting, core::names::kSettingsFile})
        if (QFileInfo::exists(folder + QLatin1Char('/') + name))
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

namespace {

QString failureLead(const QString& operation) {
    return QStringLiteral("%1 ist fehlgeschlagen.").arg(operation);
}

} // namespace

void reportFailure(QWidget* owner, const QString& operation, const QString& cause) {
    MsgBox(owner, failureLead(operation) + QStringLiteral("\n\n") + cause, Icon::Critical);
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
        return core::systemCause(e.code().value());
    } catch (const core::Error& e) {
        return e.message();
    } catch (const std::exception& e) {
        return internalFault(operation, e);
    } catch (...) {
        return QStringLiteral("Im Programm ist ein unbekannter Fehler aufgetreten; der Schritt "
                              "wurde abgebrochen.");
    }
}

bool guarded(QWidget* owner, const QString& operation, const std::function<void()>& step,
             const StepReport& report) {
    try {
        step();
        return true;
    } catch (...) {
        QStringList paragraphs{report.lead.isEmpty() ? failureLead(operation) : report.lead,
                               exceptionCause(operation)};
        if (!report.note.isEmpty())
            paragraphs << report.note;
        MsgBox(owner, paragraphs.join(QStringLiteral("\n\n")), report.icon);
    }
    return false;
}

} // namespace modGlobal
