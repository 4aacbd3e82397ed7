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

void lvwList_SelectionChanged(Session& s, const Controls& c) {
    setImageCommands(c, shownRow(s, c) != nullptr);
}

QTreeWidgetItem* neighbourRow(const Controls& c, int step) {
    const int rows = c.lvwList->topLevelItemCount();
    QTreeWidgetItem* current = c.lvwList->currentItem();
    if (!current)
        return c.lvwList->topLevelItem(step > 0 ? 0 : rows - 1);
    const int index = c.lvwList->indexOfTopLevelItem(current) + step;
    return index >= 0 && index < rows ? c.lvwList->topLevelItem(index) : nullptr;
}

QTreeWidgetItem* nextUnmeasuredRow(const Controls& c) {
    QTreeWidgetItem* current = c.lvwList->currentItem();
    for (int i = current ? c.lvwList->indexOfTopLevelItem(current) + 1 : 0;
         i < c.lvwList->topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = c.lvwList->topLevelItem(i);
        if (!imagelist::ListView::isMeasured(row))
            return row;
    }
    return nullptr;
}

void showRow(Session& s, const Controls& c, QTreeWidgetItem* row) {
    // Setting the current row scrolls it into view.
    c.lvwList->setCurrentItem(row);
    lvwList_MouseUp(s, c, 1);
}

void disableImageCommands(Session& s, const Controls& c) {
    setImageCommands(c, false);
    c.dvIMG->setTag(QString());
    s.shownFile.clear();
}

} // namespace viewer
