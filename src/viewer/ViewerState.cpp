#include "ViewerState.h"
#include "Record.h"
#include "core/Names.h"
#include "modGlobal.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QVariant>

namespace viewer::state {

namespace {

// The file the viewer's unmeasured image was read from, kept beside the
// viewer Tag so the commands can check that it is the selected row's image.
constexpr const char* kShownFileProperty = "kalvaraShownFile";

} // namespace

QTreeWidgetItem* selectedRow(const Controls& c) {
    const QList<QTreeWidgetItem*> rows = c.lvwList->selectedItems();
    return rows.isEmpty() ? nullptr : rows.first();
}

namespace {

// The file of the unmeasured image the viewer shows; empty when it shows none.
QString shownFile(const Controls& c) {
    if (c.dvIMG->tag() != kOriginalTag || c.dvIMG->images().count() == 0)
        return {};
    return c.dvIMG->property(kShownFileProperty).toString();
}

} // namespace

QTreeWidgetItem* shownRow(const Controls& c) {
    QTreeWidgetItem* row = selectedRow(c);
    const QString shown = shownFile(c);
    return row && !shown.isEmpty() && shown == imagelist::ListView::tag(row) ? row : nullptr;
}

QTreeWidgetItem* rowOfShownFile(const Controls& c) {
    const QString shown = shownFile(c);
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

void setShownFile(const Controls& c, const QString& path) {
    c.dvIMG->setProperty(kShownFileProperty, path);
}

void setImageCommands(const Controls& c, bool enabled) {
    c.cmdSave->setEnabled(enabled);
    c.cmdDelete->setEnabled(enabled);
    c.chkEdit->setEnabled(enabled);
    if (!enabled) {
        c.chkEdit->setChecked(false);
        chkEdit_Click(c);
    }
}

void showUnmeasuredFile(const Controls& c, const QString& path) {
    c.dvIMG->setTag(QString());
    setShownFile(c, QString());
    imaging::ImageCollection& images = c.dvIMG->images();
    images.clear();
    images.readFile(path);
    c.dvIMG->setTag(kOriginalTag);
    setShownFile(c, path);
    c.cmdSave->setEnabled(true);
    c.chkEdit->setEnabled(true);
    c.cmdDelete->setEnabled(true);
}

void setNumberCaption(const Controls& c) {
    const imaging::Attribute spacing = c.dvIMG->images().item(1).attribute(0x0028, 0x0030);
    QString caption = QStringLiteral("Kalvara | ") + c.txtEdit->text();
    if (!spacing.isNull())
        caption += QStringLiteral("  (") + spacing.valueNumber(1) + QLatin1Char(')');
    c.form->setWindowTitle(caption);
}

void changeRecord(const Controls& c, const QString& done, const std::function<void()>& change) {
    try {
        change();
    } catch (const record::RecordError& error) {
        modGlobal::MsgBox(c.form, done + QStringLiteral("\n\n") + error.message(),
                          modGlobal::Icon::Warning);
    }
}

QString originalFolder(const Controls& c) {
    return *c.strCurrentFolder + QLatin1Char('/') + core::names::kOriginal;
}

QString measuredFolder(const Controls& c) {
    return *c.strCurrentFolder + QLatin1Char('/') + core::names::kMeasured;
}

QString recycleFolder(const Controls& c) {
    return *c.strCurrentFolder + QLatin1Char('/') + core::names::kTrash;
}

} // namespace viewer::state
