#pragma once

#include "report/Day.h"

#include <QDateTime>
#include <QImage>
#include <QSize>
#include <QString>

#include <functional>

// The day's report for the farmer: an A4 PDF in German with a summary page
// (folder, study date, counts, the figures and a histogram of each length
// group, what could not be read), a table of every measured cow and the
// measured copies as thumbnails. Every page carries its number and the time
// the report was made.
namespace report {

// Called after each thumbnail: done of total.
using Progress = std::function<void(int done, int total)>;

// The measured copy as the viewer shows it, scaled to fit within bounds
// with its aspect ratio kept; null when its pixels cannot be shown.
// Throws imaging::ImagingError when the file cannot be read.
QImage thumbnail(const QString& copyPath, QSize bounds);

// The bounds the report renders each thumbnail within: about 150 dpi on paper.
QSize thumbnailBounds();

// "Bericht_<study date>.pdf" in the day's folder, the date in the form of
// folder names; the creation date when the day has none.
QString pdfPath(const Day& day, const QDateTime& made);

// Writes the PDF through a temporary file that replaces path only when
// complete. Throws ReportError.
void writePdf(const Day& day, const QString& path, const QDateTime& made, const Progress& progress);

} // namespace report
