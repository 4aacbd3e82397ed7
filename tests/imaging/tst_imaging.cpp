#include "DicomFixtures.h"
#include "TestSupport.h"
#include "imaging/DicomViewer.h"
#include "imaging/Imaging.h"
#include "imaging/LabelPainter.h"
#include "import/Conversion.h"

#include <dcmtk/config/osconfig.h>

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcpixseq.h>
#include <dcmtk/dcmdata/dcpxitem.h>
#include <dcmtk/dcmimgle/dcmimage.h>

#include <zlib.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#if defined(Q_OS_UNIX)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace imaging;
using namespace Qt::StringLiterals;
using fixtures::BmpSpec;
using enum fixtures::Colour;
using enum fixtures::Encoding;
using fixtures::VariantSpec;
using Regions = QList<fixtures::UsRegion>;
// Changes a fixture's data set before it is written back.
using Damage = std::function<void(DcmDataset&)>;

Q_DECLARE_METATYPE(VariantSpec)
Q_DECLARE_METATYPE(BmpSpec)
Q_DECLARE_METATYPE(Damage)
Q_DECLARE_METATYPE(fixtures::Encoding)

namespace {

// The Derivation Description the measured copies are given.
const QString kDerivation = u"Messlinien und Messwerte eingebrannt"_s;

// The message of the ImagingError that action throws; empty when it throws none.
QString failure(const std::function<void()>& action) {
    try {
        action();
    } catch (const ImagingError& error) {
        return error.message();
    }
    return {};
}

// A red line.
Label lineAt(int left, int top, int height) {
    Label line;
    line.kind = Label::Line;
    line.left = left;
    line.top = top;
    line.height = height;
    line.colour = 0x0000FF;
    return line;
}

// Fails on each line of dciodvfy's report (on stderr) on file that starts with "Error";
// skips the rest of the test where dicom3tools is not installed.
void verifyWithDciodvfy(const QString& file) {
    if (QStandardPaths::findExecutable(u"dciodvfy"_s).isEmpty())
        QSKIP("dciodvfy is not installed");
    QProcess dciodvfy;
    dciodvfy.start(u"dciodvfy"_s, {file});
    QVERIFY(dciodvfy.waitForFinished(60000));
    const QStringList errors = QString::fromLocal8Bit(dciodvfy.readAllStandardError())
                                   .split(u'\n')
                                   .filter(QRegularExpression(u"^Error"_s));
    QVERIFY2(errors.isEmpty(), qPrintable(errors.join(u'\n')));
}

// Rewrites a DICOM file in its own transfer syntax after damage changed it.
void damageFile(const QString& file, const Damage& damage) {
    DcmFileFormat format;
    QVERIFY(format.loadFile(QFile::encodeName(file).constData()).good());
    DcmDataset& dataset = *format.getDataset();
    dataset.loadAllDataIntoMemory();
    damage(dataset);
    QVERIFY(format.saveFile(QFile::encodeName(file).constData(), dataset.getOriginalXfer()).good());
}

// The bytes of a fragment; fragment 0 is the offset table.
Uint8* fragment(DcmDataset& dataset, unsigned long index) {
    DcmElement* element = nullptr;
    DcmPixelSequence* sequence = nullptr;
    DcmPixelItem* item = nullptr;
    Uint8* data = nullptr;
    dataset.findAndGetElement(DCM_PixelData, element);
    static_cast<DcmPixelData*>(element)->getEncapsulatedRepresentation(dataset.getOriginalXfer(),
                                                                       nullptr, sequence);
    sequence->getItem(item, index);
    item->getUint8Array(data);
    return data;
}

// The 32-bit words of the first fragment: an RLE frame's header.
Uint32* firstFragment(DcmDataset& dataset) {
    return reinterpret_cast<Uint32*>(fragment(dataset, 1)); // little-endian, as the host
}

// Frame 1 of the grey fixtures.
QRgb greyPattern(int x, int y) {
    const int v = fixtures::patternValue(x, y, 64, 48);
    return qRgb(v, v, v);
}

// Frame 1 as DicomImage renders it for display: with the file's first
// window, else its first VOI LUT, else the min-max window.
QImage toolkitRendering(const QString& file) {
    DcmFileFormat format;
    if (format.loadFile(QFile::encodeName(file).constData()).bad())
        return {};
    DcmDataset& dataset = *format.getDataset();
    DicomImage image(&dataset, dataset.getOriginalXfer(), CIF_UsePartialAccessToPixelData, 0, 1);
    if (image.getStatus() != EIS_Normal)
        return {};
    if (!(image.getWindowCount() > 0 && image.setWindow(0)) &&
        !(image.getVoiLutCount() > 0 && image.setVoiLut(0)))
        image.setMinMaxWindow(0);
    const auto* pixels = static_cast<const uchar*>(image.getOutputData(8, 0, 0));
    if (pixels == nullptr)
        return {};
    const int width = int(image.getWidth());
    QImage result(width, int(image.getHeight()), QImage::Format_Grayscale8);
    for (int y = 0; y < result.height(); ++y)
        std::copy_n(pixels + y * width, width, result.scanLine(y));
    return result;
}

// The first bytes of the file's pixel data, one per pixel of a frame of the size.
QImage storedBytes(const QString& file, QSize size) {
    DcmFileFormat format;
    const Uint8* pixels = nullptr;
    unsigned long count = 0;
    if (format.loadFile(QFile::encodeName(file).constData()).bad() ||
        format.getDataset()->findAndGetUint8Array(DCM_PixelData, pixels, &count).bad() ||
        count < unsigned(size.width() * size.height()))
        return {};
    QImage result(size, QImage::Format_Grayscale8);
    for (int y = 0; y < size.height(); ++y)
        std::copy_n(pixels + y * size.width(), size.width(), result.scanLine(y));
    return result;
}

Damage setText(const DcmTagKey& key, const char* value) {
    return [key, value](DcmDataset& dataset) { dataset.putAndInsertString(key, value); };
}

// Both damages, one after the other.
Damage operator+(const Damage& first, const Damage& second) {
    return [first, second](DcmDataset& dataset) {
        first(dataset);
        second(dataset);
    };
}

// Replaces the grey value from with to in every pixel.
Damage replaceValue(Uint8 from, Uint8 to) {
    return [from, to](DcmDataset& dataset) {
        Uint8* pixels = nullptr;
        unsigned long count = 0;
        QVERIFY(
            dataset.findAndGetUint8Array(DCM_PixelData, const_cast<const Uint8*&>(pixels), &count)
                .good());
        std::replace(pixels, pixels + count, from, to);
    };
}

// A table of 256 entries, each 255 minus its index, 8 bits each, in item 1
// of the sequence.
Damage invertingLut(const DcmTagKey& sequence) {
    return [sequence](DcmDataset& dataset) {
        DcmItem* item = nullptr;
        QVERIFY(dataset.findOrCreateSequenceItem(sequence, item, -2).good());
        const Uint16 descriptor[] = {256, 0, 8};
        QVERIFY(item->putAndInsertUint16Array(DCM_LUTDescriptor, descriptor, 3).good());
        std::vector<Uint16> table(256);
        for (int i = 0; i < 256; ++i)
            table[std::size_t(i)] = Uint16(255 - i);
        QVERIFY(item->putAndInsertUint16Array(DCM_LUTData, table.data(), 256).good());
        if (sequence == DCM_ModalityLUTSequence)
            QVERIFY(item->putAndInsertString(DCM_ModalityLUTType, "US").good());
    };
}

// A graphics overlay over the whole image, every bit set.
void addOverlay(DcmDataset& dataset) {
    const std::vector<Uint16> bits(64 * 48 / 16, 0xFFFF);
    QVERIFY(dataset.putAndInsertUint16(DCM_OverlayRows, 48).good());
    QVERIFY(dataset.putAndInsertUint16(DCM_OverlayColumns, 64).good());
    QVERIFY(dataset.putAndInsertString(DCM_OverlayType, "G").good());
    QVERIFY(dataset.putAndInsertString(DCM_OverlayOrigin, "1\\1").good());
    QVERIFY(dataset.putAndInsertUint16(DCM_OverlayBitsAllocated, 1).good());
    QVERIFY(dataset.putAndInsertUint16(DCM_OverlayBitPosition, 0).good());
    QVERIFY(dataset.putAndInsertUint16Array(DCM_OverlayData, bits.data(), bits.size()).good());
}

Damage setNumber(const DcmTagKey& key, int value) {
    return [key, value](DcmDataset& dataset) {
        if (key == DCM_NumberOfFrames)
            dataset.putAndInsertString(key, QByteArray::number(value).constData());
        else
            dataset.putAndInsertUint16(key, Uint16(value));
    };
}

} // namespace

class TestImaging : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString write(const QString& name, const VariantSpec& fixture) const {
        fixtures::writeVariant(path(name), fixture);
        return path(name);
    }

private Q_SLOTS:
    void readsRewritesOrRefuses_data() {
        QTest::addColumn<VariantSpec>("fixture");
        QTest::addColumn<int>("tolerance"); // largest difference of a channel; -1: refused
        QTest::addColumn<int>("cut");       // bytes cut off the end of the file
        const auto row = [](const char* name, const VariantSpec& fixture, int tolerance,
                            int cut = 0) { QTest::newRow(name) << fixture << tolerance << cut; };
        row("uncompressed", {}, 0);
        row("big endian 16 bit", {.encoding = ExplicitBig, .sixteenBit = true}, 1);
        row("rle", {.encoding = Rle}, 0);
        row("jpeg baseline", {.encoding = JpegBaseline}, 8);
        row("jpeg-ls", {.encoding = JpegLs}, 0);
        row("latin-1 texts", {.base = {.patientId = u"Kuh Ä"_s}, .characterSet = u"ISO_IR 100"_s},
            0);
        row("no file meta, implicit VR", {.encoding = ImplicitLittle, .meta = false}, 0);
        row("no file meta, explicit VR", {.meta = false}, 0);
        row("truncated in its pixels", {}, -1, 1000);
        row("no pixel data", {.pixelData = false}, -1);
        row("jpeg 2000 lossless", {.encoding = Jpeg2000Lossless}, 0);
        row("jpeg 2000 rgb", {.encoding = Jpeg2000Lossless, .colour = Rgb}, 0);
        row("jpeg 2000 lossy rgb", {.encoding = Jpeg2000, .colour = Rgb}, 12);
        row("jpeg 2000 multi-frame shows frame 1", {.encoding = Jpeg2000Lossless, .frames = 2}, 0);
        row("jpeg 2000 corrupt", {.encoding = Jpeg2000Lossless, .streamCut = 100}, -1);
        row("deflated", {.encoding = Deflated}, 0);
    }

    void readsRewritesOrRefuses() {
        QFETCH(VariantSpec, fixture);
        QFETCH(int, tolerance);
        QFETCH(int, cut);
        const QString file = write(u"read.dcm"_s, fixture);
        QFile data(file);
        QVERIFY(data.resize(data.size() - cut));
        QCOMPARE(readImageNumber(file), fixture.base.patientId); // never needs the pixels

        ImageCollection images;
        const QString message = failure([&] { images.readFile(file); });
        QCOMPARE(images.count(), tolerance < 0 ? 0 : 1);
        QVERIFY2(message.contains(u"read.dcm"_s) == (tolerance < 0), qPrintable(message));
        if (tolerance < 0)
            return;
        const QImage shown = images.item(1).displayImage();
        QCOMPARE(shown.size(), QSize(64, 48));
        const auto expected = [&](int x, int y) {
            const int v = fixtures::patternValue(x, y, 64, 48);
            return fixture.colour == Rgb ? fixtures::patternColour(x, y, 64, 48) : qRgb(v, v, v);
        };
        QCOMPARE_LE(largestDifference(shown, expected), tolerance);

        // Written back, every attribute stays; the non-ASCII number set before
        // is stored as UTF-8.
        images.item(1).setImageNumber(u"Kuh Ä"_s);
        DcmFileFormat source;
        QVERIFY(source.loadFile(QFile::encodeName(file).constData()).good());
        DcmDataset& original = *source.getDataset();
        QVERIFY(original.convertToUTF8().good());
        original.putAndInsertString(DCM_SpecificCharacterSet, "ISO_IR 192");
        original.putAndInsertString(DCM_PatientID, "Kuh Ä");
        // No codec decodes JPEG 2000 here: its copy is checked by reading it back.
        const bool j2k = fixture.encoding == Jpeg2000Lossless || fixture.encoding == Jpeg2000;
        QVERIFY(j2k || original.chooseRepresentation(EXS_LittleEndianExplicit, nullptr).good());
        if (j2k && fixture.colour == Rgb) // the colour transform is undone
            original.putAndInsertString(DCM_PhotometricInterpretation, "RGB");
        const QString copyFile = path(u"copy.dcm"_s);
        images.item(1).write(copyFile, true);
        QCOMPARE(readImageNumber(copyFile), u"Kuh Ä"_s);
        DcmFileFormat written;
        QVERIFY(written.loadFile(QFile::encodeName(copyFile).constData()).good());
        DcmDataset& copy = *written.getDataset();
        for (unsigned long i = 0; i < original.card(); ++i) {
            DcmElement* element = original.getElement(i);
            if (j2k && element->getTag() == DCM_PixelData)
                continue;
            DcmElement* kept = nullptr;
            QVERIFY2(copy.findAndGetElement(element->getTag(), kept).good(),
                     element->getTag().toString().c_str());
            QVERIFY2(element->compare(*kept) == 0, element->getTag().toString().c_str());
        }
        QCOMPARE(copy.card(), original.card());
        images.readFile(copyFile);
        QCOMPARE(images.item(2).displayImage(), images.item(1).displayImage());
    }

    // Pixel data that would make a decoder read or write out of bounds, or
    // ask for gigabytes, are refused before any decoder sees them; the list
    // read, which needs no pixels, still gives the number.
    void readsNumberFarIntoTheFile_data() {
        QTest::addColumn<fixtures::Encoding>("encoding");
        QTest::addColumn<int>("cut"); // bytes kept; 0: the whole file
        QTest::newRow("explicit") << ExplicitLittle << 0;
        QTest::newRow("implicit") << ImplicitLittle << 0;
        QTest::newRow("big endian") << ExplicitBig << 0;
        QTest::newRow("deflated") << Deflated << 0;
        QTest::newRow("cut inside the private value") << ExplicitLittle << 600 * 1024;
    }

    // A megabyte of private data before the Patient ID: the number is found
    // behind it, and a file that ends inside it is refused as a header read
    // refuses it.
    void readsNumberFarIntoTheFile() {
        QFETCH(fixtures::Encoding, encoding);
        QFETCH(int, cut);
        const QString file =
            write(u"far.dcm"_s, {.base = {.patientId = u"815"_s, .privateBytes = 1024 * 1024},
                                 .encoding = encoding});
        if (cut > 0)
            QVERIFY(QFile(file).resize(cut));
        const QString message = failure([&] { QCOMPARE(readImageNumber(file), u"815"_s); });
        QCOMPARE(message.isEmpty(), cut == 0);
        QCOMPARE(failure([&] { readHeader(file); }), message);
    }

    // The number read starts with the file's first 4 KB. When they end right between two
    // elements before the Patient ID, the file does not end there: the number lies behind.
    void readsNumberBehindFirstFourKilobytes() {
        const QByteArray privateTag("\x09\x00\x00\x10OB", 6);
        const auto privateEnd = [&](int bytes) {
            const QString file =
                write(u"boundary.dcm"_s, {.base = {.patientId = u"815"_s, .privateBytes = bytes}});
            const qsizetype at = readFile(file).indexOf(privateTag);
            return at < 0 ? at : at + 12 + bytes; // tag, VR, reserved bytes, length, value
        };
        const qsizetype end = privateEnd(2000);
        QVERIFY(end > 0);
        QCOMPARE(privateEnd(int(2000 + 4096 - end)), 4096);
        QCOMPARE(readImageNumber(path(u"boundary.dcm"_s)), u"815"_s);
    }

    // A number in the file's own character set: "Ł" is byte A3 in Latin-2, "£" in Latin-1.
    void readsNumberInItsCharacterSet() {
        const QString file = write(u"latin2.dcm"_s, {});
        damageFile(file, [](DcmDataset& d) {
            d.putAndInsertString(DCM_SpecificCharacterSet, "ISO_IR 101");
            d.putAndInsertString(DCM_PatientID, "Kuh \xA3");
        });
        QCOMPARE(readImageNumber(file), u"Kuh Ł"_s);
    }

#if defined(Q_OS_UNIX)
    // A named pipe is no image file: refused at once, not opened to wait for a writer.
    void refusesNamedPipeWithoutWaiting() {
        const QByteArray pipe = QFile::encodeName(path(u"pipe.dcm"_s));
        QCOMPARE(::mkfifo(pipe.constData(), 0600), 0);
        // A reader waiting in open() is let through after two seconds.
        std::atomic<bool> finished = false;
        std::atomic<bool> released = false;
        std::thread writer([&] {
            for (int i = 0; i < 200 && !finished; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (const int fd = ::open(pipe.constData(), O_WRONLY | O_NONBLOCK); fd >= 0) {
                released = true;
                ::close(fd);
            }
        });
        const QString message = failure([&] { readImageNumber(path(u"pipe.dcm"_s)); });
        finished = true;
        writer.join();
        QVERIFY(!released);
        QVERIFY2(message.contains(u"keine Datei"_s), qPrintable(message));
    }
#endif

    void refusesDamagedPixelData_data() {
        QTest::addColumn<VariantSpec>("fixture");
        QTest::addColumn<Damage>("damage");
        QTest::addColumn<QString>("cause");
        const VariantSpec rle{.encoding = Rle};
        const VariantSpec rleRgb{.encoding = Rle, .colour = Rgb};
        QTest::newRow("rle segment offset past its fragment")
            << rle << Damage([](DcmDataset& d) { firstFragment(d)[1] = 0x10000; }) << "RLE-Kopf";
        QTest::newRow("rle without segments")
            << rle << Damage([](DcmDataset& d) { firstFragment(d)[0] = 0; }) << "RLE-Kopf";
        QTest::newRow("rle segments not rising") << rleRgb << Damage([](DcmDataset& d) {
            firstFragment(d)[2] = firstFragment(d)[1] - 2;
        }) << "RLE-Kopf";
        QTest::newRow("65535 x 65535 rgb") << rleRgb << Damage([](DcmDataset& d) {
            setNumber(DCM_Rows, 65535)(d);
            setNumber(DCM_Columns, 65535)(d);
        }) << "65535 × 65535";
        QTest::newRow("native pixels shorter than declared")
            << VariantSpec{} << setNumber(DCM_Rows, 49) << "kürzer";
        QTest::newRow("more frames than fragments")
            << VariantSpec{.encoding = JpegBaseline} << setNumber(DCM_NumberOfFrames, 2)
            << "weniger Fragmente";
        QTest::newRow("jpeg frame larger than the image")
            << VariantSpec{.encoding = JpegBaseline} << setNumber(DCM_Rows, 47) << "JPEG-Kopf";
        // The toolkit's decoder would walk this stream's markers for ever.
        QTest::newRow("jpeg temporary marker before the frame header")
            << VariantSpec{.encoding = JpegBaseline}
            << Damage([](DcmDataset& d) { reinterpret_cast<Uint8*>(firstFragment(d))[3] = 0x01; })
            << "ungültige Marke";
        QTest::newRow("jpeg temporary marker for its start")
            << VariantSpec{.encoding = JpegBaseline}
            << Damage([](DcmDataset& d) { reinterpret_cast<Uint8*>(firstFragment(d))[1] = 0x01; })
            << "ungültige Marke";
        QTest::newRow("jpeg-ls frame larger than the image")
            << VariantSpec{.encoding = JpegLs} << setNumber(DCM_Columns, 63) << "JPEG-Kopf";
    }

    void refusesDamagedPixelData() {
        QFETCH(VariantSpec, fixture);
        QFETCH(Damage, damage);
        QFETCH(QString, cause);
        const QString file = write(u"damaged.dcm"_s, fixture);
        damageFile(file, damage);
        QCOMPARE(readImageNumber(file), fixture.base.patientId);
        ImageCollection images;
        const QString message = failure([&] { images.readFile(file); });
        QVERIFY2(message.contains(u"damaged.dcm"_s), qPrintable(message));
        QVERIFY2(message.contains(cause), qPrintable(message));
    }

    // A deflated file of a few hundred kilobytes that inflates past 256 MB
    // is refused by the list read and the full read alike.
    void refusesDeflatedBomb() {
        const QString small = write(u"small.dcm"_s, {.encoding = Deflated});
        QByteArray bytes = readFile(small);
        // Preamble, "DICM", the group length element and the meta group.
        quint32 groupLength = 0;
        std::memcpy(&groupLength, bytes.constData() + 140, 4);
        bytes.truncate(144 + qsizetype(groupLength));

        z_stream zip{};
        QCOMPARE(deflateInit2(&zip, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
        // Patient ID "4711", then an OB value of 300 MB zeros.
        const QByteArray head("\x10\x00\x20\x00LO\x04\x00"
                              "4711"
                              "\x42\x00\x11\x00OB\x00\x00\x00\x00\xC0\x12",
                              24);
        const QByteArray zeros(1 << 20, '\0');
        QByteArray out(1 << 16, '\0');
        const auto feed = [&](const QByteArray& in, int flush) {
            zip.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.constData()));
            zip.avail_in = uInt(in.size());
            do {
                zip.next_out = reinterpret_cast<Bytef*>(out.data());
                zip.avail_out = uInt(out.size());
                deflate(&zip, flush);
                bytes.append(out.constData(), out.size() - qsizetype(zip.avail_out));
            } while (zip.avail_out == 0);
        };
        feed(head, Z_NO_FLUSH);
        for (int megabyte = 0; megabyte < 300; ++megabyte)
            feed(zeros, megabyte == 299 ? Z_FINISH : Z_NO_FLUSH);
        deflateEnd(&zip);
        writeFile(path(u"bomb.dcm"_s), bytes);

        ImageCollection images;
        for (const QString& message : {failure([&] { readImageNumber(path(u"bomb.dcm"_s)); }),
                                       failure([&] { images.readFile(path(u"bomb.dcm"_s)); })}) {
            QVERIFY2(message.contains(u"bomb.dcm"_s), qPrintable(message));
            QVERIFY2(message.contains(u"256 MB"_s), qPrintable(message));
        }
    }

    // A cine of 20 JPEG 2000 frames shows frame 1; renumbered, its copy holds
    // every frame as native pixels: frame 1 the pattern, the others inverted.
    void jpeg2000CineShowsFrameOneAndWritesEveryFrame() {
        const QString file = write(u"cine.dcm"_s, {.encoding = Jpeg2000Lossless, .frames = 20});
        ImageCollection images;
        images.readFile(file);
        QCOMPARE(largestDifference(images.item(1).displayImage(), greyPattern), 0);

        images.item(1).setImageNumber(u"4712"_s);
        const QString copyFile = path(u"cine-4712.dcm"_s);
        images.item(1).write(copyFile, true);
        DcmFileFormat written;
        QVERIFY(written.loadFile(QFile::encodeName(copyFile).constData()).good());
        DcmDataset& copy = *written.getDataset();
        QCOMPARE(copy.getOriginalXfer(), EXS_LittleEndianExplicit);
        const Uint8* pixels = nullptr;
        unsigned long count = 0;
        QVERIFY(copy.findAndGetUint8Array(DCM_PixelData, pixels, &count).good());
        QCOMPARE(count, 64UL * 48 * 20);
        int wrong = 0;
        for (int f = 0; f < 20; ++f)
            for (int y = 0; y < 48; ++y)
                for (int x = 0; x < 64; ++x) {
                    const int v = fixtures::patternValue(x, y, 64, 48);
                    wrong += *pixels++ != (f == 0 ? v : 255 - v);
                }
        QCOMPARE(wrong, 0);
    }

    // An RGB image shows the colours it stores, whether its samples are
    // interleaved or held in three planes one after the other.
    void showsRgbInterleavedOrInPlanes_data() {
        QTest::addColumn<bool>("planes");
        QTest::newRow("interleaved") << false;
        QTest::newRow("planes") << true;
    }
    void showsRgbInterleavedOrInPlanes() {
        QFETCH(bool, planes);
        const QString file = write(u"rgb.dcm"_s, {.colour = Rgb});
        if (planes)
            damageFile(file, [](DcmDataset& d) {
                const Uint8* interleaved = nullptr;
                QVERIFY(d.findAndGetUint8Array(DCM_PixelData, interleaved).good());
                constexpr int pixels = 64 * 48;
                std::vector<Uint8> planar(pixels * 3);
                for (int i = 0; i < pixels; ++i)
                    for (int c = 0; c < 3; ++c)
                        planar[std::size_t(c * pixels + i)] = interleaved[i * 3 + c];
                QVERIFY(d.putAndInsertUint8Array(DCM_PixelData, planar.data(), pixels * 3).good());
                QVERIFY(d.putAndInsertUint16(DCM_PlanarConfiguration, 1).good());
            });
        ImageCollection images;
        images.readFile(file);
        QCOMPARE(
            largestDifference(images.item(1).displayImage(),
                              [](int x, int y) { return fixtures::patternColour(x, y, 64, 48); }),
            0);
    }

    // Frame 1 of an 8-bit grey image shows exactly what DicomImage renders
    // for display, whether that is the stored bytes as they are (asStored)
    // or the stored values transformed on the way.
    void showsGreyAsTheToolkitRendersIt_data() {
        QTest::addColumn<VariantSpec>("fixture");
        QTest::addColumn<Damage>("change");
        QTest::addColumn<bool>("asStored");
        const Damage none = [](DcmDataset&) {};
        const Damage identityWindow =
            setText(DCM_WindowCenter, "128") + setText(DCM_WindowWidth, "256");
        const auto row = [](const char* name, const VariantSpec& fixture, const Damage& change,
                            bool asStored) {
            QTest::newRow(name) << fixture << change << asStored;
        };
        row("min-max window over 0..255", {}, none, true);
        row("window 128/256", {}, identityWindow, true);
        row("window 128/256, rescale 1/0, linear, identity", {},
            identityWindow + setText(DCM_RescaleSlope, "1.0") + setText(DCM_RescaleIntercept, "0") +
                setText(DCM_VOILUTFunction, "LINEAR") +
                setText(DCM_PresentationLUTShape, "IDENTITY"),
            true);
        row("odd width", {.base = {.patientId = u"4711"_s, .width = 63}}, identityWindow, true);
        row("implicit VR", {.encoding = ImplicitLittle}, none, true);
        row("deflated", {.encoding = Deflated}, identityWindow, true);
        row("multi-frame", {.frames = 3}, identityWindow, true);
        row("MONOCHROME1", {}, setText(DCM_PhotometricInterpretation, "MONOCHROME1"), false);
        row("12 bits stored", {.sixteenBit = true}, identityWindow, false);
        row("signed", {}, setNumber(DCM_PixelRepresentation, 1), false);
        row("signed, window 128/256", {}, identityWindow + setNumber(DCM_PixelRepresentation, 1),
            false);
        row("7 bits stored", {},
            setNumber(DCM_BitsStored, 7) + setNumber(DCM_HighBit, 6) + identityWindow, false);
        row("rescale slope 2", {},
            identityWindow + setText(DCM_RescaleSlope, "2") + setText(DCM_RescaleIntercept, "0"),
            false);
        row("rescale intercept -64", {},
            identityWindow + setText(DCM_RescaleSlope, "1") + setText(DCM_RescaleIntercept, "-64"),
            false);
        row("modality LUT", {}, invertingLut(DCM_ModalityLUTSequence), false);
        row("window 100/100", {},
            setText(DCM_WindowCenter, "100") + setText(DCM_WindowWidth, "100"), false);
        row("window 128/255", {},
            setText(DCM_WindowCenter, "128") + setText(DCM_WindowWidth, "255"), false);
        row("sigmoid window 128/256", {}, identityWindow + setText(DCM_VOILUTFunction, "SIGMOID"),
            false);
        row("VOI LUT", {}, invertingLut(DCM_VOILUTSequence), false);
        row("min-max window over 1..255", {}, replaceValue(0, 1), false);
        row("min-max window over 0..254", {}, replaceValue(255, 254), false);
        row("inverse presentation", {},
            identityWindow + setText(DCM_PresentationLUTShape, "INVERSE"), false);
        row("overlay", {}, identityWindow + addOverlay, false);
    }
    void showsGreyAsTheToolkitRendersIt() {
        QFETCH(VariantSpec, fixture);
        QFETCH(Damage, change);
        QFETCH(bool, asStored);
        const QString file = write(u"grey.dcm"_s, fixture);
        damageFile(file, change);
        const QImage rendered = toolkitRendering(file);
        QVERIFY(!rendered.isNull());
        QCOMPARE(rendered == storedBytes(file, rendered.size()), asStored);
        ImageCollection images;
        images.readFile(file);
        QCOMPARE(images.item(1).displayImage(), rendered);
    }

    // Frame 1 alone is decoded to show the cine, so a later frame that does
    // not decode stops the write that needs it, and no file is left behind.
    void jpeg2000CineWithADamagedLaterFrame() {
        const QString file = write(u"cine.dcm"_s, {.encoding = Jpeg2000Lossless, .frames = 20});
        damageFile(file, [](DcmDataset& d) { fragment(d, 7)[1] = 0; }); // no start of codestream
        ImageCollection images;
        images.readFile(file);
        QCOMPARE(largestDifference(images.item(1).displayImage(), greyPattern), 0);
        const QString copyFile = path(u"cine-copy.dcm"_s);
        const QString message = failure([&] { images.item(1).write(copyFile, true); });
        QVERIFY2(message.contains(u"cine-copy.dcm"_s), qPrintable(message));
        QVERIFY2(message.contains(u"JPEG-2000"_s), qPrintable(message));
        QVERIFY(!QFileInfo::exists(copyFile));
    }

    // 12 bits stored, Pixel Representation signed, the code stream unsigned:
    // the stored bits are read as signed values (v * 16 from 2048 on is
    // v * 16 - 4096) and shown min-max windowed.
    void jpeg2000SignFollowsPixelRepresentation() {
        const QString file =
            write(u"signed.dcm"_s, {.encoding = Jpeg2000Lossless, .sixteenBit = true});
        damageFile(file, setNumber(DCM_PixelRepresentation, 1));
        ImageCollection images;
        images.readFile(file);
        const auto stored = [](int x, int y) {
            const int v = fixtures::patternValue(x, y, 64, 48) * 16;
            return v < 2048 ? v : v - 4096;
        };
        int low = 4096, high = -4096;
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x) {
                low = std::min(low, stored(x, y));
                high = std::max(high, stored(x, y));
            }
        QCOMPARE_LE(largestDifference(images.item(1).displayImage(),
                                      [&](int x, int y) {
                                          const int g = (stored(x, y) - low) * 255 / (high - low);
                                          return qRgb(g, g, g);
                                      }),
                    1);
    }

    // A bitmap whose pixel data the file does not hold is refused.
    void refusesCutOffBitmaps_data() {
        QTest::addColumn<BmpSpec>("bitmap");
        QTest::addColumn<int>("cut");            // bytes cut off the end
        QTest::addColumn<qint64>("pixelOffset"); // 0: as written
        QTest::addColumn<QString>("cause");
        QTest::newRow("24 bit without its last byte")
            << BmpSpec{.bits = 24} << 1 << qint64{0} << "abgeschnitten";
        QTest::newRow("1 bit without its last row")
            << BmpSpec{.bits = 1} << 4 << qint64{0} << "abgeschnitten";
        QTest::newRow("8 bit pixels after the end")
            << BmpSpec{.bits = 8} << 0 << qint64{100000} << "Dateiende";
    }

    void refusesCutOffBitmaps() {
        QFETCH(BmpSpec, bitmap);
        QFETCH(int, cut);
        QFETCH(qint64, pixelOffset);
        QFETCH(QString, cause);
        fixtures::writeBmp(path(u"cut.bmp"_s), bitmap);
        QByteArray bytes = readFile(path(u"cut.bmp"_s));
        bytes.chop(cut);
        if (pixelOffset > 0) {
            const auto offset = quint32(pixelOffset);
            bytes.replace(10, 4, reinterpret_cast<const char*>(&offset), 4);
        }
        writeFile(path(u"cut.bmp"_s), bytes);
        Image image;
        const QString message = failure([&] { image.importBitmap(path(u"cut.bmp"_s), u"BMP"_s); });
        QVERIFY2(message.contains(u"cut.bmp"_s), qPrintable(message));
        QVERIFY2(message.contains(cause), qPrintable(message));
    }

    // The common causes are named in German, not in the toolkit's English.
    void namesCausesInGerman() {
        const QString file = write(u"cause.dcm"_s, {});
        QFile data(file);
        QVERIFY(data.resize(300));
        QString message = failure([&] { readImageNumber(file); });
        QVERIFY2(message.contains(u"beschädigt oder abgeschnitten"_s), qPrintable(message));

        writeFile(path(u"text.dcm"_s),
                  "Befund: o. B., 12 mm Rückenfett, Kontrolle in 6 Monaten.\n");
        message = failure([&] { readImageNumber(path(u"text.dcm"_s)); });
        QVERIFY2(message.contains(u"keine DICOM-Datei"_s), qPrintable(message));

        // The kernel's sysfs lets no one create a file, not even root.
        ImageCollection images;
        images.readFile(write(u"source.dcm"_s, {}));
        message = failure([&] { images.item(1).write(u"/sys/kalvara.dcm"_s, true); });
        QVERIFY2(message.contains(u"keine Berechtigung"_s), qPrintable(message));
    }

    // A file of zeros, as an interrupted copy leaves, parses as a data set;
    // so may a text file.
    void refusesZeros() {
        writeFile(path(u"zeros.dcm"_s), QByteArray(512, '\0'));
        writeFile(path(u"notes.dcm"_s), "Befund: o. B.\r\nKontrolle in 6 Monaten.\r\n");
        for (const QString& name : {u"zeros.dcm"_s, u"notes.dcm"_s}) {
            ImageCollection images;
            Image image;
            for (const QString& message :
                 {failure([&] { readImageNumber(path(name)); }),
                  failure([&] { images.readFile(path(name)); }),
                  failure([&] { image.importBitmap(path(name), u"BMP"_s); })})
                QVERIFY2(message.contains(name), qPrintable(message));
        }
    }

    void measuredLength_data() {
        QTest::addColumn<QString>("spacing");
        QTest::addColumn<Regions>("regions");
        QTest::addColumn<QList<int>>("line"); // left, top, height
        QTest::addColumn<QString>("length");

        const fixtures::UsRegion whole{0, 0, 63, 47, 3, 0.05};
        const Regions two{{0, 0, 31, 47, 3, 0.1}, {32, 0, 63, 47, 3, 0.05}};
        const QList<int> down{10, 4, 40};
        QTest::newRow("spacing before region")
            << "0.2\\0.3" << Regions{whole} << QList{10, 44, -40} << "8 mm";
        QTest::newRow("cm region") << "" << Regions{whole} << down << "20 mm";
        QTest::newRow("first of two regions") << "" << two << down << "40 mm";
        QTest::newRow("second of two regions") << "" << two << QList{40, 4, 40} << "20 mm";
        QTest::newRow("line across two regions")
            << "" << Regions{{0, 0, 63, 20, 3, 0.05}, {0, 21, 63, 47, 3, 0.05}} << QList{10, 10, 20}
            << "20 px";
        QTest::newRow("region in s") << "" << Regions{{0, 0, 63, 47, 4, 0.05}} << down << "40 px";
    }

    void measuredLength() {
        QFETCH(QString, spacing);
        QFETCH(Regions, regions);
        QFETCH(QList<int>, line);
        ImageCollection images;
        images.readFile(write(u"measure.dcm"_s,
                              VariantSpec{.base = {.pixelSpacing = spacing}, .regions = regions}));
        Label label = lineAt(line[0], line[1], line[2]);
        label.bindToImage(images.item(1));
        QTEST(QString::number(label.measuredLength()) + u' ' + label.unitText(), "length");
    }

    // The measured copy; a write of it that fails part way keeps the old file
    // and leaves no other behind.
    void measuredCopy() {
        ImageCollection images;
        images.readFile(
            write(u"original.dcm"_s,
                  VariantSpec{.base = {.patientId = u"23"_s, .pixelSpacing = u"0.2\\0.2"_s},
                              .regions = {{0, 0, 63, 47, 3, 0.05}}}));
        images.item(1).labels().add(lineAt(10, 5, 30));
        images.item(1).saveImage(true, kDerivation).write(path(u"measured.dcm"_s), true);
        images.readFile(path(u"measured.dcm"_s));
        const QImage shown = images.item(2).displayImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(shown.pixel(10, 20), qRgb(255, 0, 0));
        QCOMPARE(shown.pixel(20, 20), images.item(1).displayImage().pixel(20, 20));

        // A copy is a derived image in a series of its own that names only the
        // image it was made from, also when that is a copy itself.
        images.item(2).saveImage(true, kDerivation).write(path(u"twice.dcm"_s), true);
        const auto text = [](DcmItem& item, const DcmTagKey& key) {
            OFString value;
            item.findAndGetOFStringArray(key, value);
            return QString::fromUtf8(value.c_str());
        };
        DcmFileFormat source;
        DcmFileFormat derived;
        QVERIFY(source.loadFile(QFile::encodeName(path(u"measured.dcm"_s)).constData()).good());
        QVERIFY(derived.loadFile(QFile::encodeName(path(u"twice.dcm"_s)).constData()).good());
        DcmDataset& from = *source.getDataset();
        DcmDataset& copy = *derived.getDataset();
        for (const DcmTagKey& key : {DCM_StudyInstanceUID, DCM_PatientID, DCM_PixelSpacing})
            QCOMPARE(text(copy, key), text(from, key));
        DcmElement* regions[2] = {};
        QVERIFY(from.findAndGetElement(DCM_SequenceOfUltrasoundRegions, regions[0]).good());
        QVERIFY(copy.findAndGetElement(DCM_SequenceOfUltrasoundRegions, regions[1]).good());
        QCOMPARE(regions[1]->compare(*regions[0]), 0);
        QVERIFY(!text(copy, DCM_SeriesInstanceUID).isEmpty());
        QCOMPARE_NE(text(copy, DCM_SeriesInstanceUID), text(from, DCM_SeriesInstanceUID));
        QVERIFY(!text(copy, DCM_DerivationDescription).isEmpty());
        QCOMPARE(text(copy, DCM_DerivationDescription), kDerivation);
        DcmSequenceOfItems* sources = nullptr;
        QVERIFY(copy.findAndGetSequence(DCM_SourceImageSequence, sources).good());
        QCOMPARE(sources->card(), 1UL);
        QCOMPARE(text(*sources->getItem(0), DCM_ReferencedSOPClassUID),
                 text(from, DCM_SOPClassUID));
        QCOMPARE(text(*sources->getItem(0), DCM_ReferencedSOPInstanceUID),
                 text(from, DCM_SOPInstanceUID));

#if !defined(Q_OS_UNIX)
        QSKIP("Needs POSIX file size limits.");
#else
        // A write cut inside the pixels, and one cut in the final flush.
        const QByteArray before = readFile(path(u"measured.dcm"_s));
        images.item(2).write(path(u"full.dcm"_s), true);
        for (const qint64 bytes : {qint64{1024}, QFileInfo(path(u"full.dcm"_s)).size() - 1}) {
            QString message;
            {
                const FileSizeLimit limit(bytes);
                message = failure([&] { images.item(2).write(path(u"measured.dcm"_s), true); });
            }
            QVERIFY2(message.contains(u"measured.dcm"_s), qPrintable(message));
            QCOMPARE(readFile(path(u"measured.dcm"_s)), before);
        }
        QCOMPARE(QDir(m_dir.path()).entryList({u".*"_s}, QDir::Files | QDir::Hidden),
                 QStringList{});
        verifyWithDciodvfy(path(u"twice.dcm"_s));
#endif
    }

    void importsBitmapsExactly_data() {
        QTest::addColumn<BmpSpec>("bitmap");
        for (const int bits : {1, 4, 8, 24, 32})
            for (const bool grey : {true, false})
                if (bits <= 8 || !grey) // from 24 bits on there is no palette
                    QTest::addRow("%d bit%s", bits, grey ? " grey" : " colour")
                        << BmpSpec{.bits = bits, .greyPalette = grey};
    }

    void importsBitmapsExactly() {
        QFETCH(BmpSpec, bitmap);
        fixtures::writeBmp(path(u"import.bmp"_s), bitmap);
        Image image;
        image.importBitmap(path(u"import.bmp"_s), u"BMP"_s);
        const bool grey = bitmap.bits <= 8 && bitmap.greyPalette;
        QCOMPARE(image.attribute(0x0028, 0x0004).value(), grey ? u"MONOCHROME2"_s : u"RGB"_s);
        QCOMPARE(image.displayImage().size(), QSize(bitmap.width, bitmap.height));
        QCOMPARE(largestDifference(image.displayImage(),
                                   [&](int x, int y) { return fixtures::bmpColour(bitmap, x, y); }),
                 0);
        // With the import's attributes and a non-ASCII number it is a valid image.
        importer::describeImage(image, u"Kuh Ä"_s, u"0.2\\0.2"_s, QDateTime::currentDateTime());
        image.write(path(u"import.dcm"_s), true);
        verifyWithDciodvfy(path(u"import.dcm"_s));
    }

    // A 640 x 480 image in viewers of several sizes, by hand: scale =
    // min(W / 640, H / 480), origin = whole pixels that centre the image,
    // image pixel = floor((widget pixel + 0.5 - origin) / scale).
    void placementThroughPixelCentres_data() {
        QTest::addColumn<QSize>("viewer");
        QTest::addColumn<QPoint>("widgetPixel");
        QTest::addColumn<QPoint>("imagePixel");
        QTest::addColumn<QRect>("shown");
        // Scale 69/64 = 1.078125, origin (0, 41); the pixel corners would give (0, 0)
        // and (102, 102).
        const QRect at1078(0, 41, 690, 517);
        QTest::newRow("1.078 first") << QSize(690, 600) << QPoint(1, 42) << QPoint(1, 1) << at1078;
        QTest::newRow("1.078 middle")
            << QSize(690, 600) << QPoint(111, 152) << QPoint(103, 103) << at1078;
        QTest::newRow("1.078 below")
            << QSize(690, 600) << QPoint(0, 558) << QPoint(0, 480) << at1078;
        // Scale 517/480, origin (5, 0).
        QTest::newRow("1.077 last row")
            << QSize(700, 517) << QPoint(5, 516) << QPoint(0, 479) << QRect(5, 0, 689, 517);
        // Scale 1.25, origin (100, 0).
        const QRect at125(100, 0, 800, 600);
        QTest::newRow("1.25 last")
            << QSize(1000, 600) << QPoint(899, 599) << QPoint(639, 479) << at125;
        QTest::newRow("1.25 right")
            << QSize(1000, 600) << QPoint(900, 0) << QPoint(640, 0) << at125;
        QTest::newRow("1.25 left") << QSize(1000, 600) << QPoint(99, 0) << QPoint(-1, 0) << at125;
        // Scale 0.5, origin (0, 120).
        QTest::newRow("0.5") << QSize(320, 480) << QPoint(10, 130) << QPoint(21, 21)
                             << QRect(0, 120, 320, 240);
    }
    void placementThroughPixelCentres() {
        QFETCH(QSize, viewer);
        QFETCH(QPoint, widgetPixel);
        const ImagePlacement placement = ImagePlacement::fitted(QSize(640, 480), viewer);
        QTEST(placement.imagePixelAt(widgetPixel), "imagePixel");
        QTEST(placement.surfaceRect(), "shown");
    }

    // Every image pixel is drawn on a widget pixel that a click maps back to
    // it, at any size where the image is not shrunk.
    void placementRoundTrip() {
        int wrong = 0;
        for (int width = 640; width < 1500; width += 7) {
            for (int height = 480; height < 1100; height += 11) {
                const ImagePlacement placement =
                    ImagePlacement::fitted(QSize(640, 480), QSize(width, height));
                for (int i = 0; i < 640; ++i) {
                    const QPoint pixel(i, std::min(i, 479));
                    wrong += placement.imagePixelAt(placement.surfacePixelOf(pixel)) != pixel;
                }
            }
        }
        QCOMPARE(wrong, 0);

        // The widget pixels counted as showing the image are those whose
        // centre lies in it, also where rounding meets a pixel border.
        int wrongArea = 0;
        for (int side = 1; side < 1500; ++side) {
            const ImagePlacement placement =
                ImagePlacement::fitted(QSize(640, 480), QSize(side, side));
            const QPoint last = placement.surfaceRect().bottomRight();
            const QPoint inside = placement.imagePixelAt(last);
            const QPoint beyond = placement.imagePixelAt(last + QPoint(1, 1));
            wrongArea +=
                inside.x() >= 640 || inside.y() >= 480 || beyond.x() < 640 || beyond.y() < 480;
        }
        QCOMPARE(wrongArea, 0);
    }

    // In the real viewer: the image row shown under a widget pixel, the row a
    // click there reports, the rows a line is drawn over and the start line's
    // row agree at every size, shrunk ones too.
    void viewerShowsWhatAClickMeasures() {
        // Each pixel tells its own row (green, blue) and column (red, below the labels' 255).
        QImage coded(640, 480, QImage::Format_RGB32);
        for (int y = 0; y < coded.height(); ++y)
            for (int x = 0; x < coded.width(); ++x)
                coded.setPixel(x, y, qRgb(x & 0x7F, y & 0xFF, y >> 8));
        QVERIFY(coded.save(path(u"coded.bmp"_s), "BMP"));
        DicomViewer viewer;
        viewer.images().add(Image());
        viewer.images().item(1).importBitmap(path(u"coded.bmp"_s), u"BMP"_s);
        QPoint reported;
        connect(&viewer, &DicomViewer::viewerMouseEvent, this,
                [&](int, int, int x, int y) { reported = QPoint(x, y); });
        const auto clickAt = [&](QPoint pixel) {
            QTest::mousePress(&viewer, Qt::LeftButton, {}, pixel);
            QTest::mouseRelease(&viewer, Qt::LeftButton, {}, pixel);
            return reported;
        };
        for (const QSize size :
             {QSize(690, 600), QSize(700, 517), QSize(1000, 600), QSize(931, 713), QSize(640, 481),
              QSize(500, 400), QSize(331, 250)}) {
            viewer.resize(size);
            const QImage shown = viewer.grab().toImage();
            const QRect area = viewer.placement().surfaceRect();
            int wrong = 0;
            for (int q = area.top(); q <= area.bottom(); ++q) {
                const QRgb colour = shown.pixel(area.left() + 3, q);
                wrong += clickAt(QPoint(area.left() + 3, q)).y() !=
                         (qGreen(colour) | qBlue(colour) << 8);
            }
            // Row 1 of the area: QTest takes the pixel (0, 0) for the widget's centre.
            for (int q = area.left(); q <= area.right(); q += 3)
                wrong += clickAt(QPoint(q, area.top() + 1)).x() % 128 !=
                         qRed(shown.pixel(q, area.top() + 1));
            QVERIFY2(
                wrong == 0,
                qPrintable(
                    u"%1 pixels at %2 x %3"_s.arg(wrong).arg(size.width()).arg(size.height())));
        }

        // A line from row 50 down to row 250 in column 100, and the start line on row 50.
        viewer.images().item(1).labels().add(lineAt(100, 50, 200));
        viewer.setStartLine(50);
        for (const QSize size : {QSize(690, 600), QSize(931, 713)}) {
            viewer.resize(size);
            const QImage shown = viewer.grab().toImage();
            QList<QPoint> red;
            int yellowRow = -1;
            for (int y = 0; y < shown.height(); ++y)
                for (int x = 0; x < shown.width(); ++x) {
                    const QRgb c = shown.pixel(x, y);
                    if (c == qRgb(255, 0, 0))
                        red << QPoint(x, y);
                    else if (c == qRgb(255, 220, 0))
                        yellowRow = y;
                }
            QVERIFY(!red.isEmpty());
            QCOMPARE(clickAt(red.first()), QPoint(100, 50));
            QCOMPARE(clickAt(red.last()), QPoint(100, 250));
            QCOMPARE(red.last().y() - red.first().y() + 1, red.size()); // one column, no gap
            QCOMPARE(clickAt(QPoint(viewer.width() / 2, yellowRow)).y(), 50);
        }

        // A line from a start row above the image shows from the image's
        // first row on, as in the copy, not on the black band above it.
        viewer.images().item(1).labels().clear();
        viewer.images().item(1).labels().add(lineAt(100, -40, 90));
        viewer.resize(640, 800);
        const QImage shown = viewer.grab().toImage();
        const int column = viewer.placement().surfacePixelOf(QPoint(100, 0)).x();
        int top = 0;
        while (top < shown.height() && shown.pixel(column, top) != qRgb(255, 0, 0))
            ++top;
        QCOMPARE(clickAt(QPoint(320, top)).y(), 0);
    }

    // The viewer keeps its scaled picture between paints: after a resize, a
    // new image or a new label it shows what a fresh viewer shows, shrunk
    // and enlarged alike.
    void viewerRepaintsAsAFreshViewer() {
        QImage first(640, 480, QImage::Format_RGB32);
        for (int y = 0; y < first.height(); ++y)
            for (int x = 0; x < first.width(); ++x)
                first.setPixel(x, y, qRgb(x & 0xFF, y & 0xFF, (x ^ y) & 0xFF));
        QVERIFY(first.save(path(u"first.bmp"_s), "BMP"));
        QVERIFY(first.mirrored(true, false).save(path(u"second.bmp"_s), "BMP"));
        const auto load = [&](DicomViewer& viewer, const QString& name) {
            viewer.images().clear();
            viewer.images().add(Image());
            viewer.images().item(1).importBitmap(path(name), u"BMP"_s);
        };
        const auto fresh = [&](const QString& name, QSize size, bool labelled) {
            DicomViewer viewer;
            viewer.resize(size);
            load(viewer, name);
            if (labelled)
                viewer.images().item(1).labels().add(lineAt(100, 50, 200));
            return viewer.grab().toImage();
        };
        DicomViewer viewer;
        viewer.resize(500, 400);
        load(viewer, u"first.bmp"_s);
        viewer.grab();
        for (const QSize size : {QSize(320, 240), QSize(330, 240), QSize(931, 713)}) {
            viewer.resize(size);
            QCOMPARE(viewer.grab().toImage(), fresh(u"first.bmp"_s, size, false));
        }
        load(viewer, u"second.bmp"_s);
        QCOMPARE(viewer.grab().toImage(), fresh(u"second.bmp"_s, QSize(931, 713), false));
        viewer.resize(320, 240);
        viewer.grab();
        load(viewer, u"first.bmp"_s);
        QCOMPARE(viewer.grab().toImage(), fresh(u"first.bmp"_s, QSize(320, 240), false));
        viewer.images().item(1).labels().add(lineAt(100, 50, 200));
        QCOMPARE(viewer.grab().toImage(), fresh(u"first.bmp"_s, QSize(320, 240), true));
    }

    // A box over a corner of the viewer, as the start-line box lies over it
    // in the window, leaves the picture, labels and start line around it as
    // an uncovered viewer shows them.
    void viewerPaintsAroundACoveredCorner() {
        QImage pattern(640, 480, QImage::Format_RGB32);
        for (int y = 0; y < pattern.height(); ++y)
            for (int x = 0; x < pattern.width(); ++x)
                pattern.setPixel(x, y, qRgb(x & 0xFF, y & 0xFF, (x + y) & 0xFF));
        QVERIFY(pattern.save(path(u"corner.bmp"_s), "BMP"));
        const auto fill = [&](DicomViewer& viewer) {
            viewer.resize(700, 520);
            viewer.images().add(Image());
            viewer.images().item(1).importBitmap(path(u"corner.bmp"_s), u"BMP"_s);
            viewer.images().item(1).labels().add(lineAt(5, 2, 300));
            viewer.setStartLine(3);
        };
        DicomViewer alone;
        fill(alone);
        const QImage expected = alone.grab().toImage();

        QWidget window;
        window.resize(700, 520);
        DicomViewer covered(&window);
        fill(covered);
        QFrame box(&window);
        box.setAutoFillBackground(true);
        box.setGeometry(0, 0, 40, 40);
        box.raise();
        const QImage shown = window.grab().toImage();
        int wrong = 0;
        for (int y = 0; y < expected.height(); ++y)
            for (int x = 0; x < expected.width(); ++x)
                wrong +=
                    !box.geometry().contains(x, y) && shown.pixel(x, y) != expected.pixel(x, y);
        QCOMPARE(wrong, 0);
    }

    // A value near the right or bottom edge is drawn whole and inside the
    // image, in the burned-in copy and in the viewer alike; the viewer is
    // wider than the image, so a text past its right edge would land on the
    // black band. Whole: as many red pixels as the same text in the middle.
    void textLabelsStayInsideTheImage_data() {
        QTest::addColumn<bool>("copy");
        QTest::addColumn<QPoint>("at");
        for (const bool copy : {true, false}) {
            const char* where = copy ? "copy" : "viewer";
            QTest::addRow("%s right", where) << copy << QPoint(630, 200);
            QTest::addRow("%s bottom", where) << copy << QPoint(300, 475);
            QTest::addRow("%s corner", where) << copy << QPoint(639, 479);
        }
    }
    void textLabelsStayInsideTheImage() {
        QFETCH(bool, copy);
        QFETCH(QPoint, at);
        QImage black(640, 480, QImage::Format_RGB32);
        black.fill(Qt::black);
        QVERIFY(black.save(path(u"black.bmp"_s), "BMP"));
        DicomViewer viewer;
        viewer.resize(700, 480);
        viewer.images().add(Image());
        Image& image = viewer.images().item(1);
        image.importBitmap(path(u"black.bmp"_s), u"BMP"_s);
        int outside = 0;
        const auto redPixels = [&](QPoint position) {
            Label text;
            text.text = u"84,0 mm"_s;
            text.left = position.x();
            text.top = position.y();
            text.colour = 0x0000FF;
            image.labels().clear();
            image.labels().add(text);
            const QImage shown =
                copy ? image.saveImage(true, kDerivation).displayImage() : viewer.grab().toImage();
            const QRect area = copy ? shown.rect() : viewer.placement().surfaceRect();
            int red = 0;
            for (int y = 0; y < shown.height(); ++y)
                for (int x = 0; x < shown.width(); ++x)
                    if (qRed(shown.pixel(x, y)) > 0) {
                        ++red;
                        outside += !area.contains(x, y);
                    }
            return red;
        };
        const int whole = redPixels(QPoint(300, 200));
        const int nearEdge = redPixels(at);
        QVERIFY2(nearEdge * 10 >= whole * 9, qPrintable(u"%1 of %2"_s.arg(nearEdge).arg(whole)));
        QCOMPARE(outside, 0);
    }
};

QTEST_MAIN(TestImaging)
#include "tst_imaging.moc"
