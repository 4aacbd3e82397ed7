#include "folders/Folders.h"

#include "core/Names.h"
#include "global/modGlobal.h"
#include "imagelist/ListView.h"
#include "imaging/DicomViewer.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QPointer>
#include <QPushButton>

namespace folders {

namespace {

QString messungenPath() {
    return modGlobal::workspaceRoot() + QLatin1Char('/') + core::names::kMeasurements;
}

} // namespace

std::optional<QString> entryForFolderName(const QString& name) {
    const qsizetype underscore = name.indexOf(QLatin1Char('_'));
    if (underscore < 0)
        return std::nullopt;
    return core::names::formatFolderDate(name.mid(underscore + 1));
}

void CheckDoneFolders(session::Session& s, const session::Controls& c) {
    const quint64 rebuild = ++s.selectorRebuilds;
    const QPointer<QComboBox> selector(c.cboDone);
    c.cboDone->clear();
    c.cboDone->addItem(kCurrentEntry);
    c.cboDone->addItem(kExternalEntry);
    // Adding to an empty box selects its first entry; the rebuilt selector
    // has none selected.
    c.cboDone->setCurrentIndex(-1);

    const QStringList names = modGlobal::fso().SubFolders(messungenPath());
    for (const QString& name : names) {
        QCoreApplication::processEvents();
        // While events ran the window may have closed (the session with it),
        // or a newer rebuild may have refilled the selector; either way this
        // one is done.
        if (!selector || rebuild != s.selectorRebuilds)
            return;
        if (const std::optional<QString> entry = entryForFolderName(name))
            selector->addItem(*entry);
    }
}

QString folderPathForEntry(const QString& entryText) {
    return messungenPath() + QLatin1Char('/') + core::names::kArchivePrefix +
           core::names::formatFolderDate(entryText);
}

QString currentFolderPath() {
    return messungenPath() + QLatin1Char('/') + core::names::kCurrentMeasurement;
}

QString archiveFolderName(const QString& base, const std::function<bool(const QString&)>& exists) {
    if (!exists(base))
        return base;
    for (qint64 n = 1;; ++n) {
        QCoreApplication::processEvents();
        const QString candidate = base + QLatin1Char('_') + QString::number(n);
        if (!exists(candidate))
            return candidate;
    }
}

bool cmdCloseStudy_Click(session::Session& s, const session::Controls& c) {
    using modGlobal::fso;
    QPushButton* const cmdCloseStudy = c.cmdCloseStudy;
    const QString storedDate = session::tag(cmdCloseStudy);
    if (storedDate.isEmpty()) {
        modGlobal::MsgBox(cmdCloseStudy,
                          QStringLiteral("Sie müssen zunächst ein Bild aus der Studie anwählen."),
                          modGlobal::Icon::Information);
        return false;
    }
    const std::optional<QDate> studyDate = core::names::parseDate(storedDate);
    if (!studyDate) {
        modGlobal::MsgBox(cmdCloseStudy,
                          QStringLiteral("Das Aufnahmedatum des Bildes (\u201E%1\u201C) ist kein "
                                         "gültiges Datum.\nDer Ordner wird nicht archiviert.")
                              .arg(storedDate),
                          modGlobal::Icon::Critical);
        return false;
    }

    // Events run while a free name is probed, and a choice in the selector
    // may then change the window's current folder: the folder to move is
    // fixed here, and the window may be gone by the time the selector is
    // rebuilt.
    const QString folder = s.currentFolder;
    const QPointer<QComboBox> selector(c.cboDone);

    c.dvIMG->images().clear();
    c.lvwList->clear();

    if (fso().FolderExists(folder)) {
        const bool moved =
            modGlobal::guarded(cmdCloseStudy, QStringLiteral("Das Archivieren des Ordners"), [&] {
                const QString base = messungenPath() + QLatin1Char('/') +
                                     core::names::kArchivePrefix +
                                     studyDate->toString(core::names::kFolderDateFormat);
                // A file of the name blocks the move as a folder would.
                const QString target = archiveFolderName(base, [](const QString& path) {
                    return fso().FolderExists(path) || fso().FileExists(path);
                });
                fso().MoveFolder(folder, target);
            });
        if (!moved)
            return true;
    }
    if (selector)
        modGlobal::guarded(selector, QStringLiteral("Das Einlesen der Messungen"),
                           [&] { CheckDoneFolders(s, c); });
    return true;
}

} // namespace folders
