#include "ViewerState.h"
#include "global/modGlobal.h"

#include <QDir>
#include <QLineEdit>
#include <QPushButton>

namespace viewer {

using namespace state;

namespace {

const QString kShowOperation = QStringLiteral("Das Anzeigen des Bildes");

// Both return false when a step failed; the failure has been reported.
bool showOriginal(Session& s, const Controls& c) {
    QTreeWidgetItem* row = selectedRow(c);
    if (!row)
        return true;
    const QString path = imagelist::ListView::tag(row);
    if (!modGlobal::fso().FileExists(path)) {
        // Whatever the viewer still shows is not this row's image: the
        // commands and measuring must not act on it.
        disableImageCommands(s, c);
        modGlobal::MsgBox(c.form,
                          QStringLiteral("Die Bilddatei ist nicht vorhanden:\n\n%1")
                              .arg(QDir::toNativeSeparators(path)),
                          modGlobal::Icon::Information);
        return true;
    }
    const bool shown = modGlobal::guarded(c.form, kShowOperation, [&] {
        showUnmeasuredFile(s, c, path);
        setNumberCaption(c);
    });
    if (!shown)
        disableImageCommands(s, c);
    return shown;
}

bool showMeasured(Session& s, const Controls& c) {
    QTreeWidgetItem* row = selectedRow(c);
    if (!row)
        return true;
    disableImageCommands(s, c);
    const bool shown = modGlobal::guarded(c.form, kShowOperation, [&] {
        imaging::ImageCollection& images = c.dvIMG->images();
        images.clear();
        const QString number = row->text(0);
        if (!isPlainFileName(number))
            return;
        const QString path = measuredFolder(s) + QLatin1Char('/') + number + QStringLiteral(".dcm");
        if (!modGlobal::fso().FileExists(path))
            return;
        images.readFile(path);
        setNumberCaption(c);
    });
    return shown;
}

} // namespace

void lvwList_MouseUp(Session& s, const Controls& c, int button) {
    if (QTreeWidgetItem* row = selectedRow(c))
        c.txtEdit->setText(row->text(0));
    const bool shown = button == 1 ? showOriginal(s, c) : showMeasured(s, c);
    if (!shown)
        return;
    modGlobal::guarded(c.form, kShowOperation, [&] {
        const imaging::ImageCollection& images = c.dvIMG->images();
        if (images.count() > 0)
            session::setTag(c.cmdCloseStudy, images.item(1).attribute(0x0008, 0x0020).value());
    });
}

void disableImageCommands(Session& s, const Controls& c) {
    setImageCommands(c, false);
    c.dvIMG->setTag(QString());
    s.shownFile.clear();
}

} // namespace viewer
