#include "ViewerState.h"
#include "global/modGlobal.h"
#include "record/Record.h"

#include "core/Error.h"

#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>

#include <algorithm>

namespace viewer {

using namespace state;

bool isPlainFileName(const QString& name) {
    static const QString kForbidden = QStringLiteral("/\\:<>\"|?*");
    for (const QChar ch : name) {
        if (kForbidden.contains(ch) || ch.unicode() < 0x20)
            return false;
    }
    if (name.endsWith(QLatin1Char('.')) || name.endsWith(QLatin1Char(' ')))
        return false;
    // Windows keeps these device names for itself, with any extension.
    static const QRegularExpression kDevice(
        QStringLiteral("^(CON|PRN|AUX|NUL|COM[1-9]|LPT[1-9])(\\..*)?$"),
        QRegularExpression::CaseInsensitiveOption);
    return !kDevice.match(name).hasMatch();
}

namespace {

constexpr quint16 kCommentsGroup = 0x0020; // Image Comments
constexpr quint16 kCommentsElement = 0x4000;

// A study date "YYYYMMDD" as German spreadsheets read it; other text as stored.
QString recordDate(const QString& studyDate) {
    const QDate date = QDate::fromString(studyDate, QStringLiteral("yyyyMMdd"));
    return date.isValid() ? date.toString(record::kDateFormat) : studyDate;
}

QString recordTime(const QDateTime& time) {
    return time.toString(record::kTimeFormat);
}

// The record row of an image saved now: each line gives a length with the
// unit and start line it was measured with.
record::Entry recordEntry(const imaging::Image& image) {
    record::Entry entry;
    entry.number = image.imageNumber();
    entry.uid = image.imageUid();
    entry.studyDate = recordDate(image.attribute(0x0008, 0x0020).value());
    entry.savedAt = recordTime(QDateTime::currentDateTime());
    const imaging::LabelList& labels = image.labels();
    for (int i = 1; i <= labels.count(); ++i) {
        const imaging::Label& line = labels.item(i);
        if (line.kind == imaging::Label::Line)
            entry.values << record::Value{measurementNumber(line.measuredLength(), QLocale()),
                                          line.unitText(), QString::number(line.top)};
    }
    return entry;
}

// The measured copy keeps its values in Image Comments, readable in any
// viewer and enough to rebuild a lost record: the comments of the image it
// was made from, then on a line of its own the values, each with its unit.
// Values from one start line: "Messwerte ab Startlinie 100: 30 mm; 12,2 px";
// from several: "Messwerte: 30 mm ab Startlinie 100; 12 mm ab Startlinie 80";
// none: "Messwerte: keine".
QString copyComments(const QString& imageComments, const record::Entry& entry) {
    const QList<record::Value>& values = entry.values;
    const bool oneStartLine = std::all_of(values.begin(), values.end(), [&](const auto& value) {
        return value.startLine == values.front().startLine;
    });
    QStringList texts;
    for (const record::Value& value : values)
        texts << value.length + QLatin1Char(' ') + value.unit +
                     (oneStartLine ? QString()
                                   : QStringLiteral(" ab Startlinie ") + value.startLine);
    QString line = QStringLiteral("Messwerte: keine");
    if (!values.isEmpty() && oneStartLine)
        line = QStringLiteral("Messwerte ab Startlinie %1: %2")
                   .arg(values.front().startLine, texts.join(QStringLiteral("; ")));
    else if (!values.isEmpty())
        line = QStringLiteral("Messwerte: ") + texts.join(QStringLiteral("; "));
    return imageComments.isEmpty() ? line : imageComments + QStringLiteral("\r\n") + line;
}

// True when file is a measured copy whose values line lists at least one
// value: replacing it with an image without measurements would lose them.
bool copyHoldsMeasurements(const QString& file) {
    if (!QFileInfo(file).isFile())
        return false;
    try {
        record::Entry entry;
        return record::readValuesLine(
                   imaging::readHeader(file).attribute(kCommentsGroup, kCommentsElement).value(),
                   entry.values) &&
               !entry.values.isEmpty();
    } catch (const imaging::ImagingError&) {
        return false;
    }
}

// The rows of a lost record, rebuilt only from what Kalvara wrote: the
// measured copies in Gemessen whose unmeasured image is still in Original,
// under that image's number now. Files that cannot be read are passed over.
QList<record::Entry> rebuiltEntries(const Session& s) {
    QList<record::Entry> entries;
    try {
        QHash<QString, QString> numbers; // UID of each image in Original -> its number
        for (const modGlobal::FileEntry& file : modGlobal::fso().Files(originalFolder(s))) {
            try {
                const imaging::Image image = imaging::readHeader(file.path);
                if (!image.imageUid().isEmpty())
                    numbers.insert(image.imageUid(), image.imageNumber());
            } catch (const imaging::ImagingError&) {
            }
        }
        for (const modGlobal::FileEntry& file : modGlobal::fso().Files(measuredFolder(s))) {
            try {
                const imaging::Image copy = imaging::readHeader(file.path);
                record::Entry entry;
                entry.uid = copy.sourceImageUid();
                // A lost record is rebuilt only from copies Kalvara made.
                if (copy.attribute(0x0008, 0x2111).value() != record::kMeasuredCopyDerivation ||
                    !numbers.contains(entry.uid) ||
                    !record::readValuesLine(
                        copy.attribute(kCommentsGroup, kCommentsElement).value(), entry.values))
                    continue;
                entry.number = numbers.value(entry.uid);
                entry.studyDate = recordDate(copy.attribute(0x0008, 0x0020).value());
                entry.savedAt = recordTime(file.lastModified);
                entries << entry;
            } catch (const imaging::ImagingError&) {
            }
        }
    } catch (const modGlobal::FileSystemError&) {
    }
    return entries;
}

} // namespace

bool saveShownImage(Session& s, const Controls& c) {
    const QString operation = QStringLiteral("Das Speichern des Bildes");
    const imaging::ImageCollection& images = c.dvIMG->images();
    if (images.count() == 0)
        return false;
    // The mark goes to the row of the image saved, wherever the selection
    // has moved since; any other row would claim a copy that does not exist.
    QTreeWidgetItem* row = rowOfShownFile(s, c);
    const record::Entry entry = recordEntry(images.item(1));
    // One Enter on an unmeasured image must not silently replace the saved
    // measurements of its number.
    const QString number = images.item(1).imageNumber();
    if (entry.values.isEmpty() && isPlainFileName(number) &&
        copyHoldsMeasurements(measuredFolder(s) + QLatin1Char('/') + number +
                              QStringLiteral(".dcm")) &&
        modGlobal::MsgBox(c.form,
                          QStringLiteral("Die gespeicherte Kopie von Nummer %1 enthält "
                                         "Messwerte, das angezeigte Bild aber keine.\r\n\r\n"
                                         "Soll die Kopie trotzdem durch das Bild ohne Messwerte "
                                         "ersetzt werden?")
                              .arg(number),
                          modGlobal::Icon::Question, modGlobal::Buttons::YesNo,
                          modGlobal::Answer::No) != modGlobal::Answer::Yes)
        return false;
    const bool saved = modGlobal::guarded(c.form, operation, [&] {
        const imaging::Image& image = images.item(1);
        if (!isPlainFileName(number))
            throw core::Error(
                QStringLiteral("Die Bildnummer \u201E%1\u201C enthält ein Zeichen, das in "
                               "Dateinamen nicht erlaubt ist.")
                    .arg(number));
        const QString folder = measuredFolder(s);
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
        imaging::Image copy = image.saveImage(true, record::kMeasuredCopyDerivation);
        copy.addAttribute(
            kCommentsGroup, kCommentsElement,
            copyComments(image.attribute(kCommentsGroup, kCommentsElement).value(), entry));
        copy.write(file, true);
    });
    if (!saved)
        return false;
    s.savedMeasurements = measurementsKey(images.item(1));
    // What was taken away before the save stays away.
    c.dvIMG->forgetSetAside();
    if (row)
        row->setText(1, QStringLiteral("X"));
    modGlobal::guarded(
        c.form, kRecordOperation,
        [&] {
            QList<record::Entry> entries;
            if (!QFileInfo::exists(record::recordFile(s.currentFolder)))
                entries = rebuiltEntries(s);
            entries << entry;
            record::saveEntries(s.currentFolder, entries);
        },
        modGlobal::StepReport::warning(
            QStringLiteral("Die gemessene Kopie ist gespeichert, ihre Messwerte fehlen "
                           "aber in der Messwerttabelle.")));
    return true;
}

void cmdSave_Click(Session& s, const Controls& c) {
    saveShownImage(s, c);
}

bool hasUnsavedMeasurements(const Session& s, const Controls& c) {
    const imaging::ImageCollection& images = c.dvIMG->images();
    return c.dvIMG->tag() == kOriginalTag && !s.shownFile.isEmpty() && images.count() > 0 &&
           measurementsKey(images.item(1)) != s.savedMeasurements;
}

bool confirmLeaving(Session& s, const Controls& c) {
    if (!hasUnsavedMeasurements(s, c))
        return true;
    const QString number = c.dvIMG->images().item(1).imageNumber();
    switch (modGlobal::MsgBox(c.form,
                              QStringLiteral("Die Messwerte von Nummer %1 sind nicht "
                                             "gespeichert.\r\n\r\nSollen sie gespeichert "
                                             "werden?")
                                  .arg(number),
                              modGlobal::Icon::Question, modGlobal::Buttons::SaveDiscardCancel,
                              modGlobal::Answer::Cancel)) {
    case modGlobal::Answer::Save:
        return saveShownImage(s, c);
    case modGlobal::Answer::Discard:
        return true;
    default:
        // A row pressed on the way stays unchosen: the selection goes back
        // to the image still shown, and with it the image commands.
        if (QTreeWidgetItem* row = rowOfShownFile(s, c))
            c.lvwList->setCurrentItem(row);
        return false;
    }
}

} // namespace viewer
