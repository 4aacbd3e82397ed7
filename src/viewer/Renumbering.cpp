#include "ViewerState.h"
#include "global/Durable.h"
#include "global/modGlobal.h"
#include "imaging/UidGenerator.h"
#include "imaging/Values.h"
#include "record/Record.h"

#include <QCheckBox>
#include <QJsonObject>
#include <QLineEdit>
#include <QPushButton>

#include <optional>

namespace viewer {

using namespace state;

void chkEdit_Click(Session& /*s*/, const Controls& c) {
    setRenumbering(c, c.chkEdit->isChecked());
}

namespace {

// What a renumbering changes in the record, as its journal keeps it.
QJsonObject recordChange(const QString& folder, const QString& oldUid, const QString& oldNumber,
                         const QString& number, const QString& newUid) {
    return {{QStringLiteral("folder"), folder},
            {QStringLiteral("oldUid"), oldUid},
            {QStringLiteral("oldNumber"), oldNumber},
            {QStringLiteral("number"), number},
            {QStringLiteral("newUid"), newUid}};
}

} // namespace

void cmdEdit_Click(Session& s, const Controls& c) {
    const QString operation = QStringLiteral("Das Ändern der Bildnummer");
    if (c.lvwList->topLevelItemCount() == 0)
        return;
    // The number is typed for the image the operator sees: renumbering
    // another row's file (the selection moved by keyboard, a measured copy
    // shown) would give the wrong cow the number.
    QTreeWidgetItem* row = shownRow(s, c);
    if (!row) {
        refuseWithoutShownRow(c);
        return;
    }
    const QString oldFile = imagelist::ListView::tag(row);
    const QString number = c.txtEdit->text();
    if (!imaging::isPatientId(number)) {
        modGlobal::MsgBox(c.form,
                          QStringLiteral("Die Nummer „%1“ kann nicht vergeben werden.\n\n%2")
                              .arg(number, imaging::kPatientIdRule),
                          modGlobal::Icon::Warning);
        return;
    }

    // The shown image is read again from its file: the viewer's copy carries
    // the measurements drawn on it, which do not belong in Original.
    QString oldUid;
    QString oldNumber;
    QString newUid;
    QString newFile;
    // From before the new file is written until the record follows, a journal
    // lets the next start finish a renumbering cut off in between.
    std::optional<durable::Replacement> journal;
    const bool written = modGlobal::guarded(c.form, operation, [&] {
        imaging::ImageCollection source;
        source.readFile(oldFile);
        imaging::Image& image = source.item(1);
        oldUid = image.imageUid();
        oldNumber = image.imageNumber();
        image.setPatientName(number + QLatin1Char('^') + number);
        image.setImageNumber(number);
        newUid = imaging::UidGenerator().newUid();
        image.setImageUid(newUid);
        newFile = originalFolder(s) + QLatin1Char('/') + newUid + QStringLiteral(".dcm");
        journal.emplace(newFile, oldFile, true,
                        recordChange(s.currentFolder, oldUid, oldNumber, number, newUid));
        image.write(newFile, true);
    });
    if (!written)
        return;

    const bool replaced = modGlobal::guarded(c.form, operation, [&] {
        try {
            modGlobal::fso().RemoveFile(oldFile, true);
        } catch (...) {
            // Undo the new file so the image is not in Original twice. Should
            // that fail too, both stay and the next list load shows both.
            try {
                modGlobal::fso().RemoveFile(newFile, true);
            } catch (const modGlobal::FileSystemError&) {
            }
            throw;
        }
    });
    if (!replaced)
        return;

    row->setText(0, number);
    imagelist::ListView::setTag(row, newFile);
    row->setText(1, QStringLiteral("-"));
    modGlobal::guarded(
        c.form, kRecordOperation,
        [&] { record::renumberEntry(s.currentFolder, oldUid, oldNumber, number, newUid); },
        modGlobal::StepReport::warning(
            QStringLiteral("Die Bildnummer ist geändert, in der Messwerttabelle steht das "
                           "Bild aber noch unter der alten Nummer.")));
    journal.reset();

    if (!modGlobal::guarded(c.form, QStringLiteral("Das Anzeigen des Bildes"),
                            [&] { showUnmeasuredFile(s, c, newFile); }))
        disableImageCommands(s, c);
    setRenumbering(c, false);
}

void completeInterruptedWork(QWidget* owner) {
    // The record's change finds the row by its old UID, so done once already it finds none.
    durable::completeInterruptedReplacement(owner, [](const QJsonObject& change) {
        const auto text = [&](const char* key) {
            return change.value(QLatin1String(key)).toString();
        };
        if (change.contains(QLatin1String("folder")))
            record::renumberEntry(text("folder"), text("oldUid"), text("oldNumber"), text("number"),
                                  text("newUid"));
    });
}

} // namespace viewer
