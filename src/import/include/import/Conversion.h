#pragma once

#include "core/Names.h"
#include "imaging/Imaging.h"

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// Turning a bitmap of the import folder into a DICOM image of a dated
// measurement folder: the attributes it gets and where it is written.
namespace importer {

struct ImportAttribute {
    quint16 group = 0;
    quint16 element = 0;
    QString value;

    bool operator==(const ImportAttribute&) const = default;
};

struct ImportUids {
    QString study;
    QString series;
    QString image;
};

// The attributes of a converted image in the order they are set: the three
// UIDs, patient, pixel spacing (only when pixelSpacing is not empty), window,
// dates and times of now, modality, institution and four empty patient
// attributes. Texts are taken as typed.
QList<ImportAttribute> importAttributes(const ImportUids& uids, const QString& cowNumber,
                                        const QString& pixelSpacing, const QDateTime& now);

// The Pixel Spacing to write for the text typed into the dialog: empty for an
// empty text; decimal commas become points, so "0,2\0,2" gives "0.2\0.2";
// one value means square pixels, so "0,2" gives "0.2\0.2" too; nullopt unless
// the result is two positive decimal values (a valid DS).
std::optional<QString> pixelSpacingValue(const QString& typed);

// Sets the attributes on the image in order.
void applyAttributes(imaging::Image& image, const QList<ImportAttribute>& attributes);

// Gives an imported bitmap three new UIDs and the attributes above. Throws
// imaging::ImagingError.
void describeImage(imaging::Image& image, const QString& cowNumber, const QString& pixelSpacing,
                   const QDateTime& now);

// root + "/Messungen/Messung_" + the date as "yyyy.MM.dd".
QString measurementFolder(const QString& root, const QDate& studyDate);

// The subfolders every imported-into measurement folder gets, in the order
// they are created.
inline const QStringList kMeasurementSubfolders = {core::names::kOriginal, core::names::kTrash,
                                                   core::names::kMeasured};

// Creates the measurement folder (one level: "Messungen" must exist) and its
// subfolders where missing. Throws modGlobal::FileSystemError.
void createMeasurementFolder(const QString& folder);

// A time stamp in the general date form of the user's locale: the short
// date, followed by the time unless it is exactly midnight.
QString generalDateText(const QDateTime& stamp);

// The study date offered for the first file of a run: the stored setting
// ("DD.MM.YYYY" or another date form) when it holds a date in the picker's
// range, else the day the file was last modified.
QDate initialStudyDate(const QString& stored, const QDateTime& lastModified);

// The date picker's range.
inline const QDate kFirstStudyDate(1601, 1, 1);
inline const QDate kLastStudyDate(9999, 12, 31);

} // namespace importer
