#include "CsvReader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTest>

QList<QStringList> csvRows(const QString& path) {
    // utf-8-sig drops the BOM; newline="" lets csv handle the CRLF itself.
    static const QString script =
        QStringLiteral("import csv, json, sys\n"
                       "with open(sys.argv[1], encoding='utf-8-sig', newline='') as f:\n"
                       "    print(json.dumps(list(csv.reader(f, delimiter=';', strict=True))))\n");
    QProcess python;
    python.start(QStringLiteral("python3"), {QStringLiteral("-c"), script, path});
    const bool finished = python.waitForFinished(30000);
    const QByteArray output = python.readAllStandardOutput();
    QList<QStringList> rows;
    if (!finished || python.exitCode() != 0) {
        QTest::qFail(qPrintable(QStringLiteral("python3 csv: ") +
                                QString::fromUtf8(python.readAllStandardError())),
                     __FILE__, __LINE__);
        return rows;
    }
    for (const QJsonValue& row : QJsonDocument::fromJson(output).array()) {
        QStringList fields;
        for (const QJsonValue& field : row.toArray())
            fields << field.toString();
        rows << fields;
    }
    return rows;
}
