#include "ViewerState.h"
#include "modGlobal.h"

#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QVariant>

namespace viewer {

using namespace state;

namespace {

const QString kShowOperation = QStringLiteral("Das Anzeigen des Bildes");

// Both return false when a step failed; the failure has been reported.
bool showOriginal(const Controls& c) {
    QTreeWidgetItem* row = selectedRow(c);
    if (!row)
        return true;
    const QString path = imagelist::ListView::tag(row);
    if (!modGlobal::fso().FileExists(path)) {
        // Whatever the viewer still shows is not this row's image: the
        // commands and measuring must not act on it.
        disableImageCommands(c);
        modGlobal::MsgBox(c.form,
                          QStringLiteral("Die Bilddatei ist nicht vorhanden:\n\n%1")
                              .arg(QDir::toNativeSeparators(path)),
                          modGlobal::Icon::Information);
        return true;
    }
    const bool shown = modGlobal::guarded(c.form, kShowOperation, [&] {
        showUnmeasuredFile(c, path);
        setNumberCaption(c);
    });
    if (!shown)
        disableImageCommands(c);
    return shown;
}

bool showMeasured(const Controls& c) {
    QTreeWidgetItem* row = selectedRow(c);
    if (!row)
        return true;
    disableImageCommands(c);
    const bool shown = modGlobal::guarded(c.form, kShowOperation, [&] {
        imaging::ImageCollection& images = c.dvIMG->images();
        images.clear();
        const QString number = row->text(0);
        if (!isPlainFileName(number))
            return;
        const QString path = measuredFolder(c) + QLatin1Char('/') + number + QStringLiteral(".dcm");
        if (!modGlobal::fso().FileExists(path))
            return;
        images.readFile(path);
        setNumberCaption(c);
    });
    return shown;
}

} // namespace

void lvwList_MouseUp(const Controls& c, int button) {
    if (QTreeWidgetItem* row = selectedRow(c))
        c.txtEdit->setText(row->text(0));
    const bool shown = button == 1 ? showOriginal(c) : showMeasured(c);
    if (!shown)
        return;
    modGlobal::guarded(c.form, kShowOperation, [&] {
        const imaging::ImageCollection& images = c.dvIMG->images();
        if (images.count() > 0)
            c.cmdCloseStudy->setProperty("Tag", images.item(1).attribute(0x0008, 0x0020).value());
    });
}

void ShowOriginalImage(const Controls& c) {
    showOriginal(c);
}

void ShowMeasuredImage(const Controls& c) {
    showMeasured(c);
}

void disableImageCommands(const Controls& c) {
    setImageCommands(c, false);
    c.dvIMG->setTag(QString());
    setShownFile(c, QString());
}

} // namespace viewer
