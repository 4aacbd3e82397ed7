#include "Record.h"
#include "ViewerState.h"
#include "modGlobal.h"

#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>

namespace viewer {

using namespace state;

bool isPlainFileName(const QString& name) {
    for (const QChar ch : name) {
        if (ch == QLatin1Char('/') || ch == QLatin1Char('\\') || ch == QLatin1Char(':') ||
            ch.unicode() < 0x20)
            return false;
    }
    return true;
}

namespace {

// The record row of an image saved now: its lines give the lengths, the
// unit and the start line they were drawn from (the setting when there is
// none).
record::Entry recordEntry(const imaging::Image& image) {
    record::Entry entry;
    entry.number = image.imageNumber();
    entry.uid = image.imageUid();
    const QString studyDate = image.attribute(0x0008, 0x0020).value();
    const QDate date = QDate::fromString(studyDate, QStringLiteral("yyyyMMdd"));
    entry.studyDate = date.isValid() ? date.toString(QStringLiteral("dd.MM.yyyy")) : studyDate;
    entry.savedAt = QDateTime::currentDateTime().toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
    entry.startLine = modGlobal::startLine();
    const imaging::LabelList& labels = image.labels();
    for (int i = 1; i <= labels.count(); ++i) {
        const imaging::Label& line = labels.item(i);
        if (line.kind != imaging::Label::Line)
            continue;
        if (entry.lengths.isEmpty()) {
            entry.startLine = QString::number(line.top);
            entry.unit = line.unitText();
        }
        entry.lengths << measurementNumber(line.measuredLength(), QLocale());
    }
    return entry;
}

} // namespace

void cmdSave_Click(const Controls& c) {
    const QString operation = QStringLiteral("Das Speichern des Bildes");
    const imaging::ImageCollection& images = c.dvIMG->images();
    if (images.count() == 0)
        return;
    // The mark goes to the row of the image saved, wherever the selection
    // has moved since; any other row would claim a copy that does not exist.
    QTreeWidgetItem* row = rowOfShownFile(c);
    const bool saved = modGlobal::guarded(c.form, operation, [&] {
        const imaging::Image& image = images.item(1);
        const QString number = image.imageNumber();
        if (!isPlainFileName(number))
            throw std::runtime_error(
                QStringLiteral("Die Bildnummer \u201E%1\u201C enthält ein Zeichen, das in "
                               "Dateinamen nicht erlaubt ist.")
                    .arg(number)
                    .toStdString());
        const QString folder = measuredFolder(c);
        if (!modGlobal::fso().FolderExists(folder))
            modGlobal::fso().CreateFolder(folder);
        const QString file = folder + QLatin1Char('/') + number + QStringLiteral(".dcm");
        // A read-only copy is replaced as well; the write renames over it,
        // which some file systems refuse for a read-only target.
        const QFileInfo existing(file);
        if (existing.isFile() && !existing.isWritable())
            QFile::setPermissions(file, existing.permissions() | QFileDevice::WriteOwner |
                                            QFileDevice::WriteUser);
        // The previous copy stays until the new one is completely written.
        image.saveImage(true).write(file, true);
    });
    if (!saved)
        return;
    if (row)
        row->setText(1, QStringLiteral("X"));
    changeRecord(c,
                 QStringLiteral("Die gemessene Kopie ist gespeichert, ihre Messwerte fehlen "
                                "aber in der Messwerttabelle."),
                 [&] { record::saveEntry(*c.strCurrentFolder, recordEntry(images.item(1))); });
}

} // namespace viewer
