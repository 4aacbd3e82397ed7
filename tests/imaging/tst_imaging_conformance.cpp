// The files the imaging boundary writes, checked by dicom3tools' dciodvfy.

#include "Conversion.h"
#include "DicomFixtures.h"
#include "Imaging.h"

#include <QDateTime>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace imaging;
using namespace Qt::StringLiterals;

class TestImagingConformance : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    // Writes image to file and fails on each line of dciodvfy's report that
    // starts with "Error".
    static void verify(const Image& image, const QString& file) {
        image.write(file, true);
        QProcess dciodvfy;
        dciodvfy.setProcessChannelMode(QProcess::MergedChannels);
        dciodvfy.start(u"dciodvfy"_s, {file});
        QVERIFY(dciodvfy.waitForFinished(60000));
        const QStringList errors = QString::fromLocal8Bit(dciodvfy.readAll())
                                       .split(u'\n')
                                       .filter(QRegularExpression(u"^Error"_s));
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join(u'\n')));
    }

private Q_SLOTS:
    void init() {
        if (QStandardPaths::findExecutable(u"dciodvfy"_s).isEmpty())
            QSKIP("dciodvfy is not installed");
    }

    void writtenFilesPassDciodvfy_data() {
        QTest::addColumn<int>("bits"); // 0: an ultrasound image instead of a bitmap
        QTest::addColumn<QString>("number");
        QTest::newRow("grey bitmap, non-ASCII number") << 8 << u"Kuh Ä"_s;
        QTest::newRow("colour bitmap") << 24 << u"17"_s;
        QTest::newRow("jpeg-ls ultrasound image") << 0 << u"23"_s;
    }

    // A converted bitmap with the import's attributes, and the measured copy
    // of it or of an ultrasound image; labels would change only its pixels.
    void writtenFilesPassDciodvfy() {
        QFETCH(int, bits);
        QFETCH(QString, number);
        const QString file = m_dir.filePath(u"image.dcm"_s);
        if (bits == 0) {
            fixtures::writeVariant(
                file,
                fixtures::VariantSpec{.base = {.patientId = number, .pixelSpacing = u"0.2\\0.2"_s},
                                      .encoding = fixtures::Encoding::JpegLs,
                                      .regions = {{0, 0, 63, 47, 3, 0.05}}});
        } else {
            const QString bitmap = m_dir.filePath(u"image.bmp"_s);
            fixtures::writeBmp(bitmap, {.bits = bits});
            Image converted;
            converted.importBitmap(bitmap, u"BMP"_s);
            importer::describeImage(converted, number, u"0.2\\0.2"_s, QDateTime::currentDateTime());
            verify(converted, file);
        }
        ImageCollection images;
        images.readFile(file);
        verify(images.item(1).saveImage(true), m_dir.filePath(u"measured.dcm"_s));
    }
};

QTEST_MAIN(TestImagingConformance)
#include "tst_imaging_conformance.moc"
