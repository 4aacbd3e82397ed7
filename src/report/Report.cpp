#include "report/Report.h"

#include "report/ReportError.h"
#include "report/Workbook.h"

#include <QDateTime>
#include <QStringList>

namespace report {

Files writeReport(const QString& folder, const Progress& progress) {
    const Day day = readDay(folder);
    const QDateTime made = QDateTime::currentDateTime();
    const Files files{pdfPath(day, made), workbookPath(day)};
    QStringList failures;
    try {
        writeWorkbook(day, files.workbook);
    } catch (const ReportError& e) {
        failures << e.message();
    }
    try {
        writePdf(day, files.pdf, made, progress);
    } catch (const ReportError& e) {
        failures << e.message();
    }
    if (!failures.isEmpty())
        throw ReportError(failures.join(QStringLiteral("\n\n")));
    return files;
}

} // namespace report
