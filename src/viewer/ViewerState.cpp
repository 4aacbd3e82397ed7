#include "ViewerState.h"
#include "core/Names.h"
#include "global/modGlobal.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

namespace viewer::state {

QTreeWidgetItem* selectedRow(const Controls& c) {
    const QList<QTreeWidgetItem*> rows = c.lvwList->selectedItems();
    return rows.isEmpty() ? nullptr : rows.first();
}

namespace {

// The file of the unmeasured image the viewer shows; empty when it shows none.
QString shownFile(const Session& s, const Controls& c) {
    if (c.dvIMG->tag() != kOriginalTag || c.dvIMG->images().count() == 0)
        return {};
    return s.shownFile;
}

} // namespace

QTreeWidgetItem* shownRow(const Session& s, const Controls& c) {
    QTreeWidgetItem* row = selectedRow(c);
    const QString shown = shownFile(s, c);
    return row && !shown.isEmpty() && shown == imagelist::ListView::tag(row) ? row : nullptr;
}

QTreeWidgetItem* rowOfShownFile(const Session& s, const Controls& c) {
    const QString shown = shownFile(s, c);
    if (shown.isEmpty())
        return nullptr;
    for (int i = 0; i < c.lvwList->topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = c.lvwList->topLevelItem(i);
        if (imagelist::ListView::tag(row) == shown)
            return row;
    }
    return nullptr;
}

void refuseWithoutShownRow(const Controls& c) {
    setImageCommands(c, false);
    modGlobal::MsgBox(c.form,
                      QStringLiteral("Bitte wählen Sie das Bild zuerst mit der linken "
                                     "Maustaste in der Liste aus."),
                      modGlobal::Icon::Information);
}

void setRenumbering(const Controls& c, bool on) {
    c.chkEdit->setChecked(on);
    c.txtEdit->setEnabled(on);
    c.cmdEdit->setEnabled(on);
}

void setImageCommands(const Controls& c, bool enabled) {
    c.cmdSave->setEnabled(enabled);
    c.cmdDelete->setEnabled(enabled);
    c.chkEdit->setEnabled(enabled);
    if (!enabled)
        setRenumbering(c, false);
}

void showUnmeasuredFile(Session& s, const Controls& c, const QString& path) {
    c.dvIMG->setTag(QString());
    s.shownFile.clear();
    imaging::ImageCollection& images = c.dvIMG->images();
    images.clear();
    images.readFile(path);
    c.dvIMG->setTag(kOriginalTag);
    s.shownFile = path;
    s.savedMeasurements.clear();
    c.cmdSave->setEnabled(true);
    c.chkEdit->setEnabled(true);
    c.cmdDelete->setEnabled(true);
}

QString measurementsKey(const imaging::Image& image) {
    QStringList lines;
    const imaging::LabelList& labels = image.labels();
    for (int i = 1; i <= labels.count(); ++i) {
        const imaging::Label& label = labels.item(i);
        if (label.kind == imaging::Label::Line)
            lines << QStringLiteral("%1 %2 %3").arg(label.left).arg(label.top).arg(label.height);
    }
    return lines.join(QLatin1Char(';'));
}

void setNumberCaption(const Controls& c) {
    const imaging::Attribute spacing = c.dvIMG->images().item(1).attribute(0x0028, 0x0030);
    QString caption = QStringLiteral("Kalvara | ") + c.txtEdit->text();
    if (!spacing.isNull())
        caption += QStringLiteral("  (") + spacing.valueNumber(1) + QLatin1Char(')');
    c.form->setWindowTitle(caption);
}

QString originalFolder(const Session& s) {
    return s.currentFolder + QLatin1Char('/') + core::names::kOriginal;
}

QString measuredFolder(const Session& s) {
    return s.currentFolder + QLatin1Char('/') + core::names::kMeasured;
}

QString recycleFolder(const Session& s) {
    return s.currentFolder + QLatin1Char('/') + core::names::kTrash;
}

} // namespace viewer::state
