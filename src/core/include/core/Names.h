#pragma once

#include <QDate>
#include <QString>

#include <optional>

// The names of the workspace: its folders and files, the settings file's
// section and keys, the date form of folder names, and the twips of the
// window design. Paths are built on the workspace root by concatenation.
namespace core::names {

// Folders of the workspace root.
inline const QString kMeasurements = QStringLiteral("Messungen");
inline const QString kWaiting = QStringLiteral("NoDCM");

// Folders in "Messungen": the current measurement and the archived ones,
// named by this prefix and the study date.
inline const QString kCurrentMeasurement = QStringLiteral("Messung");
inline const QString kArchivePrefix = QStringLiteral("Messung_");

// Subfolders of a measurement folder.
inline const QString kOriginal = QStringLiteral("Original");
inline const QString kMeasured = QStringLiteral("Gemessen");
inline const QString kTrash = QStringLiteral("Papierkorb");

// Files.
inline const QString kSettingsFile = QStringLiteral("Settings.ini");
inline const QString kRecordFile = QStringLiteral("Messwerte.csv");
inline const QString kJournalFile = QStringLiteral("Vorgang.json");

// The settings file's one section and its keys.
inline const QString kSection = QStringLiteral("GENERAL");
inline const QString kStartLineKey = QStringLiteral("StartLine");
inline const QString kPixelSpacingKey = QStringLiteral("PixelSpacing");
inline const QString kStudyDateKey = QStringLiteral("StudyDate");

// The date in the name of an archived measurement folder.
inline const QString kFolderDateFormat = QStringLiteral("yyyy.MM.dd");

// The window design is measured in twips.
inline constexpr int kTwipsPerPixel = 15;

// Reads "YYYY.MM.DD", "YYYY-MM-DD", "DD.MM.YYYY" and the DICOM form
// "YYYYMMDD" (blanks around it allowed); only real calendar dates.
std::optional<QDate> parseDate(const QString& text);

// A date in the folder-name form; any other text unchanged ("2026.12.05_1"
// stays).
QString formatFolderDate(const QString& text);

} // namespace core::names
