// The files the imaging boundary writes, checked by dicom3tools' dciodvfy.

#include "DicomFixtures.h"
#include "Imaging.h"

#include <QDate>
#include <QDateTime>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace imaging;

Q_DECLARE_METATYPE(fixtures::BmpSpec)

namespace {

// The lines of dciodvfy's report that start with "Error".
QStringList dciodvfyErrors(const QString& file) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("dciodvfy"), {file});
    if (!process.waitForFinished(60000)) {
        return {QStringLiteral("Error - dciodvfy did not finish")};
    }
    QStringList errors;
    const QStringList lines = QString::fromLocal8Bit(process.readAll()).split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        if (line.startsWith(QLatin1String("Error"))) {
            errors.append(line);
        }
    }
    return errors;
}

// A converted bitmap with the attributes an import sets.
Image importedImage(const QString& bitmap, const QString& number) {
    Image image;
    image.importBitmap(bitmap, QStringLiteral("BMP"));
    UidGenerator uids;
    image.setStudyUid(uids.newUid());
    image.setSeriesUid(uids.newUid());
    image.setImageUid(uids.newUid());
    image.setPatientName(number + QLatin1Char('^') + number);
    image.setImageNumber(number);
    const QString today = QDate::currentDate().toString(QStringLiteral("yyyyMMdd"));
    const QString now = QDateTime::currentDateTime().toString(QStringLiteral("HHmmss"));
    image.setBirthDate(today);
    image.setSex(QStringLiteral("O"));
    image.addAttribute(0x0028, 0x0030, QStringLiteral("0.2\\0.2"));
    image.addAttribute(0x0028, 0x1050, QStringLiteral("127"));
    image.addAttribute(0x0028, 0x1051, QStringLiteral("255"));
    for (const quint16 element : {0x0020, 0x0021, 0x0023}) {
        image.addAttribute(0x0008, element, today);
    }
    for (const quint16 element : {0x0030, 0x0031, 0x0032, 0x0033}) {
        image.addAttribute(0x0008, element, now);
    }
    image.addAttribute(0x0008, 0x0060, QStringLiteral("US"));
    image.addAttribute(0x0008, 0x0080, QStringLiteral("Jungrind"));
    image.addAttribute(0x0010, 0x1020, QString());
    image.addAttribute(0x0010, 0x1030, QString());
    image.addAttribute(0x0010, 0x2180, QString());
    image.addAttribute(0x0010, 0x21B0, QString());
    return image;
}

void addMeasurement(Image& image) {
    Label line;
    line.kind = Label::Line;
    line.left = 4;
    line.top = 1;
    line.height = 5;
    line.colour = 255;
    line.bindToImage(image);
    Label text;
    text.kind = Label::Text;
    text.left = 4;
    text.top = 6;
    text.colour = 255;
    text.text = QStringLiteral("1 mm");
    image.labels().add(line);
    image.labels().add(text);
}

} // namespace

class TestImagingConformance : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void writtenFilesPassDciodvfy_data();
    void writtenFilesPassDciodvfy();
    void measuredCopyOfUltrasoundImagePassesDciodvfy();

private:
    QTemporaryDir m_dir;
};

void TestImagingConformance::init() {
    if (QStandardPaths::findExecutable(QStringLiteral("dciodvfy")).isEmpty()) {
        QSKIP("dciodvfy is not installed");
    }
}

void TestImagingConformance::writtenFilesPassDciodvfy_data() {
    QTest::addColumn<fixtures::BmpSpec>("spec");
    QTest::addColumn<QString>("number");
    fixtures::BmpSpec grey;
    grey.bits = 8;
    fixtures::BmpSpec colour;
    QTest::newRow("grey bitmap") << grey << QStringLiteral("17");
    QTest::newRow("colour bitmap") << colour << QStringLiteral("17");
    QTest::newRow("non-ASCII number") << grey << QStringLiteral("Kuh Ä");
}

void TestImagingConformance::writtenFilesPassDciodvfy() {
    QFETCH(fixtures::BmpSpec, spec);
    QFETCH(QString, number);
    const QString bitmap = m_dir.filePath(QStringLiteral("in.bmp"));
    fixtures::writeBmp(bitmap, spec);

    const QString converted = m_dir.filePath(QStringLiteral("converted.dcm"));
    importedImage(bitmap, number).write(converted, true);
    const QStringList errors = dciodvfyErrors(converted);
    QVERIFY2(errors.isEmpty(), qPrintable(errors.join(QLatin1Char('\n'))));

    ImageCollection images;
    images.readFile(converted);
    addMeasurement(images.item(1));
    const QString measured = m_dir.filePath(QStringLiteral("measured.dcm"));
    images.item(1).saveImage(true).write(measured, true);
    const QStringList copyErrors = dciodvfyErrors(measured);
    QVERIFY2(copyErrors.isEmpty(), qPrintable(copyErrors.join(QLatin1Char('\n'))));
}

void TestImagingConformance::measuredCopyOfUltrasoundImagePassesDciodvfy() {
    fixtures::VariantSpec spec;
    spec.base.patientId = QStringLiteral("23");
    spec.base.pixelSpacing = QStringLiteral("0.2\\0.2");
    spec.encoding = fixtures::Encoding::JpegLs;
    spec.regions = {fixtures::UsRegion{0, 0, 63, 47, 3, 0.05}};
    const QString source = m_dir.filePath(QStringLiteral("us.dcm"));
    fixtures::writeDicom(source, spec);

    ImageCollection images;
    images.readFile(source);
    addMeasurement(images.item(1));
    const QString measured = m_dir.filePath(QStringLiteral("us-measured.dcm"));
    images.item(1).saveImage(true).write(measured, true);
    const QStringList errors = dciodvfyErrors(measured);
    QVERIFY2(errors.isEmpty(), qPrintable(errors.join(QLatin1Char('\n'))));
}

QTEST_MAIN(TestImagingConformance)
#include "tst_imaging_conformance.moc"
