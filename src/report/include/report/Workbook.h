#pragma once

#include "report/Day.h"

#include <QString>

// The day's values for spreadsheet programs, typed: cow numbers and UIDs as
// text, lengths as numbers with their unit in the column header, dates as
// dates. Sheet "Messwerte" holds one row per measured cow, sheet "Statistik"
// the figures and a column chart of each length group, and sheet
// "Nicht gelesen", when there is something, what could not be read.
namespace report {

// "Messwerte.xlsx" in the day's folder.
QString workbookPath(const Day& day);

// Writes the workbook through a temporary file that replaces path only when
// complete. Throws ReportError.
void writeWorkbook(const Day& day, const QString& path);

} // namespace report
