#pragma once

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>

// A measurement folder's day as its report shows it: every measured cow with
// its lengths, from the record "Messwerte.csv" and the measured copies in
// "Gemessen". Rows edited by hand are kept as far as they can be read; what
// cannot be read is listed as a problem, never dropped silently.
namespace report {

// One measured length.
struct Length {
    int column = 0;      // k of "Länge k"
    double value = 0.0;  // in unit
    QString text;        // as recorded ("30,5")
    QString unit;        // "mm", "px", or what a hand edit wrote
    QString calibration; // what turned pixels into unit; lengths of different
                         // calibrations are never averaged together
};

// One measured cow.
struct Animal {
    QString number;  // the cow number
    QString uid;     // of the unmeasured image; empty when unknown
    QDate studyDate; // invalid when the record holds no date
    QString studyDateText;
    QDateTime savedAt; // invalid when the record holds no time
    QString savedAtText;
    QList<Length> lengths;
    QString copyPath; // the measured copy; empty when there is none
};

// Something of the day that could not be read: where ("Zeile 7",
// "Gemessen/17.dcm") and why, in German.
struct Problem {
    QString place;
    QString reason;
};

struct Day {
    QString folder;
    int images = 0;        // images in Original
    QList<Animal> animals; // rows in record order, then copies the record lacks
    QList<Problem> problems;

    // The study dates of the animals, each once, in order of appearance.
    QList<QDate> studyDates() const;
    // The animals that have a measured copy.
    int copies() const;
};

// The calibration texts of lengths.
inline const QString kUnknownCalibration = QStringLiteral("Kalibrierung unbekannt");
inline const QString kRegionCalibration = QStringLiteral("Ultraschallregion");

// Reads the day of a measurement folder. Never throws for what the folder
// holds; every file that cannot be read becomes a problem.
Day readDay(const QString& folder);

} // namespace report
