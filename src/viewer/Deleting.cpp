#include "ViewerState.h"
#include "global/modGlobal.h"
#include "record/Record.h"

#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>

namespace viewer {

using namespace state;

namespace {

// Two images may share a number and so the name of one measured copy: the
// copy belongs to the image its Source Image Sequence names. A copy that
// names none, or cannot be read, is taken as the deleted image's.
bool isCopyOf(const QString& copy, const QString& uid) {
    try {
        const QString source = imaging::readHeader(copy).sourceImageUid();
        return source.isEmpty() || source == uid;
    } catch (const imaging::ImagingError&) {
        return true;
    }
}

} // namespace

void cmdDelete_Click(Session& s, const Controls& c) {
    const QString operation = QStringLiteral("Das Löschen des Bildes");
    imaging::ImageCollection& images = c.dvIMG->images();
    if (images.count() == 0) {
        c.cmdDelete->setEnabled(false);
        return;
    }
    // Files and row must belong to the same image: the shown unmeasured
    // image of the selected row.
    QTreeWidgetItem* row = shownRow(s, c);
    if (!row) {
        refuseWithoutShownRow(c);
        return;
    }

    const QString question = QStringLiteral("Wollen Sie das Bild mit der Nummer ") +
                             QStringLiteral("\r\n\r\n") + c.txtEdit->text() +
                             QStringLiteral("\r\n\r\n") + QStringLiteral("wirklich löschen?");
    if (modGlobal::MsgBox(c.form, question, modGlobal::Icon::Question, modGlobal::Buttons::YesNo,
                          modGlobal::Answer::Yes) != modGlobal::Answer::Yes)
        return;

    const imaging::Image& image = images.item(1);
    const QString number = image.imageNumber();
    const QString uid = image.imageUid();
    const QString storedFile = imagelist::ListView::tag(row);
    const QString recycle = recycleFolder(s);
    // Images acquired elsewhere keep their own file names in Original; the
    // row's file is what leaves, under the UID's name when that is usable.
    const QString recycled =
        recycle + QLatin1Char('/') +
        (!uid.isEmpty() && isPlainFileName(uid) ? uid + QStringLiteral(".dcm")
                                                : QFileInfo(storedFile).fileName());

    const bool moved = modGlobal::guarded(c.form, operation, [&] {
        if (!modGlobal::fso().FolderExists(recycle))
            modGlobal::fso().CreateFolder(recycle);
        if (modGlobal::fso().FileExists(storedFile)) {
            if (modGlobal::fso().FileExists(recycled))
                modGlobal::fso().RemoveFile(recycled, true);
            modGlobal::fso().MoveFileTo(storedFile, recycled);
        }
    });
    if (!moved)
        return;

    images.clear();
    delete row;
    disableImageCommands(s, c);
    c.form->setWindowTitle(modGlobal::kAppTitle);
    modGlobal::guarded(
        c.form, kRecordOperation, [&] { record::removeEntry(s.currentFolder, uid, number); },
        modGlobal::StepReport::warning(
            QStringLiteral("Das Bild ist gelöscht, seine Messwerte stehen aber noch in der "
                           "Messwerttabelle.")));

    // The measured copy goes last, once the image has left Original, so a
    // failure here never leaves a row without its image. Another image's
    // copy of the same number stays.
    if (isPlainFileName(number)) {
        const QString measured =
            measuredFolder(s) + QLatin1Char('/') + number + QStringLiteral(".dcm");
        modGlobal::guarded(c.form, operation, [&] {
            if (modGlobal::fso().FileExists(measured) && isCopyOf(measured, uid))
                modGlobal::fso().RemoveFile(measured, true);
        });
    }
}

} // namespace viewer
