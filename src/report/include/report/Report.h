#pragma once

#include "report/Pdf.h"

#include <QString>

// The day's report of a measurement folder: the PDF and the workbook beside
// its record.
namespace report {

struct Files {
    QString pdf;
    QString workbook;
};

// Reads the folder's day and writes both files. Each is attempted on its
// own, so one held by another program does not keep the other from being
// written; when either fails, ReportError names every failure.
Files writeReport(const QString& folder, const Progress& progress);

} // namespace report
