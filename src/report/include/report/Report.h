#pragma once

#include "core/Error.h"
#include "report/Day.h"

#include <QImage>
#include <QSize>
#include <QString>

#include <functional>

// The day's report of a measurement folder: "Bericht_<date>.pdf" for the
// farmer and "Messwerte.xlsx" for the spreadsheet, both beside the record.
// Each file is written through a temporary file that replaces the old one
// only when complete, so a failed write leaves the old file whole.
namespace report {

// A report file that could not be written; what() is a German sentence.
class ReportError : public core::Error {
public:
    explicit ReportError(const QString& message);
};

// Called while thumbnails render: done of total.
using Progress = std::function<void(int done, int total)>;

// The measured copy as the viewer shows it, scaled to fit size.
// Throws imaging::ImagingError when it cannot be read.
QImage thumbnail(const QString& copyPath, QSize size);

// The workbook: sheet "Messwerte" with typed cells, sheet "Statistik" with
// the figures and a chart of each length group.
void writeWorkbook(const Day& day, const QString& path);

// The PDF: summary page, table of the measured cows, thumbnails.
void writePdf(const Day& day, const QString& path, const Progress& progress);

// The file names in a folder: the PDF named by the study date (the
// creation date when the day has none).
QString pdfPath(const Day& day);
QString workbookPath(const Day& day);

struct Files {
    QString pdf;
    QString workbook;
};

// Reads the folder's day and writes both files. Both are attempted; when
// either fails, ReportError names every failure.
Files writeReport(const QString& folder, const Progress& progress);

} // namespace report
