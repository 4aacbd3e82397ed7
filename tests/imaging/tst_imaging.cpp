#include "DicomFixtures.h"
#include "DicomViewer.h"
#include "Imaging.h"
#include "TestSupport.h"

#include <dcmtk/config/osconfig.h>

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcmetinf.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <functional>
#include <set>

using namespace imaging;
using fixtures::Colour;
using fixtures::Encoding;
using fixtures::VariantSpec;

Q_DECLARE_METATYPE(fixtures::VariantSpec)
Q_DECLARE_METATYPE(fixtures::BmpSpec)
using FileMaker = std::function<void(const QString&)>;
Q_DECLARE_METATYPE(FileMaker)
Q_DECLARE_METATYPE(QList<fixtures::UsRegion>)

namespace {

enum class Expect { Grey, Inverted, Colour, Palette, Windowed };

QRgb expected(Expect kind, int x, int y, int w, int h) {
    const int v = fixtures::patternValue(x, y, w, h);
    switch (kind) {
    case Expect::Grey:
        return qRgb(v, v, v);
    case Expect::Inverted:
        return qRgb(255 - v, 255 - v, 255 - v);
    case Expect::Colour:
        return fixtures::patternColour(x, y, w, h);
    case Expect::Palette:
        return qRgb(v, 255 - v, 255);
    case Expect::Windowed: {
        // Window centre 64, width 128, DICOM's linear function.
        const double out = ((v - 63.5) / 127.0 + 0.5) * 255.0;
        const int g = std::clamp(static_cast<int>(std::lround(out)), 0, 255);
        return qRgb(g, g, g);
    }
    }
    return 0;
}

// The largest difference of a channel between the shown image and the
// expectation, with the place where it occurs.
QString largestDifference(const QImage& shown, Expect kind, int* difference) {
    const QImage rgb = shown.convertToFormat(QImage::Format_RGB32);
    *difference = 0;
    QString where;
    for (int y = 0; y < rgb.height(); ++y) {
        for (int x = 0; x < rgb.width(); ++x) {
            const QRgb got = rgb.pixel(x, y);
            const QRgb want = expected(kind, x, y, rgb.width(), rgb.height());
            const int d =
                std::max({std::abs(qRed(got) - qRed(want)), std::abs(qGreen(got) - qGreen(want)),
                          std::abs(qBlue(got) - qBlue(want))});
            if (d > *difference) {
                *difference = d;
                where = QStringLiteral("(%1,%2): got %3, want %4")
                            .arg(x)
                            .arg(y)
                            .arg(got, 8, 16)
                            .arg(want, 8, 16);
            }
        }
    }
    return where;
}

QByteArray rawPixels(const QString& path) {
    DcmFileFormat file;
    if (file.loadFile(QFile::encodeName(path).constData()).bad()) {
        return {};
    }
    const Uint8* data = nullptr;
    unsigned long count = 0;
    file.getDataset()->findAndGetUint8Array(DCM_PixelData, data, &count);
    return QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(count));
}

} // namespace

class TestImaging : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void readsDecodableFiles_data();
    void readsDecodableFiles();
    void refusesUndecodableFiles_data();
    void refusesUndecodableFiles();
    void readImageNumberSkipsPixelData();
    void textValuesComeBackAsUtf8();
    void attributesAndProperties();
    void collectionsAndLabelLists();
    void measuredLength_data();
    void measuredLength();
    void writeThenReadKeepsEverything_data();
    void writeThenReadKeepsEverything();
    void failedWriteKeepsTarget_data();
    void failedWriteKeepsTarget();
    void savedCopyCarriesBurnedInLabels();
    void importsBitmapsExactly_data();
    void importsBitmapsExactly();
    void refusesWhatIsNoBitmap_data();
    void refusesWhatIsNoBitmap();
    void uidsAreUniqueAndValid();
    void viewerMapsImagePixels();

private:
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString write(const QString& name, const VariantSpec& spec) const {
        fixtures::writeDicom(path(name), spec);
        return path(name);
    }

    QTemporaryDir m_dir;
};

// ---------------------------------------------------------------- reading

void TestImaging::readsDecodableFiles_data() {
    QTest::addColumn<VariantSpec>("spec");
    QTest::addColumn<int>("expect");
    QTest::addColumn<int>("tolerance");

    const auto row = [](const char* name, Encoding encoding, Colour colour, Expect expect,
                        int tolerance, int bits = 8, int frames = 1) {
        VariantSpec spec;
        spec.base.patientId = QStringLiteral("4711");
        spec.encoding = encoding;
        spec.colour = colour;
        spec.bitsStored = bits;
        spec.frames = frames;
        QTest::newRow(name) << spec << static_cast<int>(expect) << tolerance;
    };
    row("explicit little", Encoding::ExplicitLittle, Colour::Monochrome2, Expect::Grey, 0);
    row("implicit little", Encoding::ImplicitLittle, Colour::Monochrome2, Expect::Grey, 0);
    row("explicit big 8 bit", Encoding::ExplicitBig, Colour::Monochrome2, Expect::Grey, 0);
    row("explicit big 12 bit", Encoding::ExplicitBig, Colour::Monochrome2, Expect::Grey, 1, 12);
    row("deflated", Encoding::Deflated, Colour::Monochrome2, Expect::Grey, 0);
    row("without meta", Encoding::WithoutMeta, Colour::Monochrome2, Expect::Grey, 0);
    row("rle grey", Encoding::Rle, Colour::Monochrome2, Expect::Grey, 0);
    row("rle rgb", Encoding::Rle, Colour::Rgb, Expect::Colour, 0);
    row("jpeg baseline", Encoding::JpegBaseline, Colour::Monochrome2, Expect::Grey, 8);
    row("jpeg baseline rgb", Encoding::JpegBaseline, Colour::Rgb, Expect::Colour, 24);
    row("jpeg extended 12 bit", Encoding::JpegExtended, Colour::Monochrome2, Expect::Grey, 8, 12);
    row("jpeg lossless", Encoding::JpegLossless, Colour::Monochrome2, Expect::Grey, 0);
    row("jpeg-ls grey", Encoding::JpegLs, Colour::Monochrome2, Expect::Grey, 0);
    row("jpeg-ls rgb", Encoding::JpegLs, Colour::Rgb, Expect::Colour, 0);
    row("monochrome1", Encoding::ExplicitLittle, Colour::Monochrome1, Expect::Inverted, 0);
    row("16 bit", Encoding::ExplicitLittle, Colour::Monochrome2, Expect::Grey, 1, 12);
    row("rgb", Encoding::ExplicitLittle, Colour::Rgb, Expect::Colour, 0);
    row("ybr full", Encoding::ExplicitLittle, Colour::YbrFull, Expect::Colour, 3);
    row("ybr full 422", Encoding::ExplicitLittle, Colour::YbrFull422, Expect::Colour, 6);
    row("palette colour", Encoding::ExplicitLittle, Colour::Palette, Expect::Palette, 0);
    row("multi-frame shows frame 1", Encoding::ExplicitLittle, Colour::Monochrome2, Expect::Grey, 0,
        8, 3);
    row("multi-frame rle", Encoding::Rle, Colour::Monochrome2, Expect::Grey, 0, 8, 3);

    VariantSpec windowed;
    windowed.base.patientId = QStringLiteral("4711");
    windowed.windowCenter = QStringLiteral("64");
    windowed.windowWidth = QStringLiteral("128");
    QTest::newRow("voi window") << windowed << static_cast<int>(Expect::Windowed) << 1;
}

void TestImaging::readsDecodableFiles() {
    QFETCH(VariantSpec, spec);
    QFETCH(int, expect);
    QFETCH(int, tolerance);
    const QString file = write(QStringLiteral("read.dcm"), spec);

    ImageCollection images;
    images.readFile(file);
    QCOMPARE(images.count(), 1);
    const Image& image = images.item(1);
    QCOMPARE(image.imageNumber(), QStringLiteral("4711"));
    QCOMPARE(image.width(), 64);
    QCOMPARE(image.height(), 48);
    const QImage shown = image.displayImage();
    QCOMPARE(shown.size(), QSize(64, 48));
    int difference = 0;
    const QString where = largestDifference(shown, static_cast<Expect>(expect), &difference);
    QVERIFY2(difference <= tolerance, qPrintable(where));
}

void TestImaging::refusesUndecodableFiles_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<FileMaker>("make");

    const auto fixture = [](VariantSpec spec) {
        return [spec](const QString& file) { fixtures::writeDicom(file, spec); };
    };
    VariantSpec noPixels;
    noPixels.pixelData = false;
    VariantSpec jpeg2000;
    jpeg2000.encoding = Encoding::Jpeg2000Fake;
    QTest::newRow("truncated") << QStringLiteral("truncated.dcm")
                               << FileMaker([](const QString& file) {
                                      fixtures::writeDicom(file, fixtures::DicomSpec{});
                                      QFile f(file);
                                      QVERIFY(f.resize(f.size() - 1000));
                                  });
    QTest::newRow("no pixel data")
        << QStringLiteral("nopixels.dcm") << FileMaker(fixture(noPixels));
    QTest::newRow("jpeg 2000") << QStringLiteral("j2k.dcm") << FileMaker(fixture(jpeg2000));
    QTest::newRow("not dicom") << QStringLiteral("notes.dcm") << FileMaker([](const QString& file) {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray("Kein DICOM, nur Text.\n").repeated(40));
    });
    QTest::newRow("empty file") << QStringLiteral("empty.dcm")
                                << FileMaker([](const QString& file) {
                                       QFile f(file);
                                       QVERIFY(f.open(QIODevice::WriteOnly));
                                   });
    QTest::newRow("missing") << QStringLiteral("missing.dcm") << FileMaker([](const QString&) {});
}

void TestImaging::refusesUndecodableFiles() {
    QFETCH(QString, name);
    QFETCH(FileMaker, make);
    make(path(name));

    ImageCollection images;
    images.readFile(write(QStringLiteral("good.dcm"), VariantSpec{}));
    try {
        images.readFile(path(name));
        QFAIL("the read was not refused");
    } catch (const ImagingError& error) {
        QVERIFY2(error.message().contains(name), qPrintable(error.message()));
    }
    QCOMPARE(images.count(), 1);
}

void TestImaging::readImageNumberSkipsPixelData() {
    VariantSpec spec;
    spec.base.patientId = QStringLiteral("815");
    const QString truncated = write(QStringLiteral("cut.dcm"), spec);
    {
        QFile f(truncated);
        QVERIFY(f.resize(f.size() - 1000));
    }
    QCOMPARE(readImageNumber(truncated), QStringLiteral("815"));
    ImageCollection images;
    QVERIFY_THROWS_EXCEPTION(ImagingError, images.readFile(truncated));

    for (const Encoding encoding :
         {Encoding::JpegLs, Encoding::WithoutMeta, Encoding::ExplicitBig}) {
        spec.encoding = encoding;
        QCOMPARE(readImageNumber(write(QStringLiteral("number.dcm"), spec)), QStringLiteral("815"));
    }
    QFile text(path(QStringLiteral("plain.txt")));
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write(QByteArray("Kein DICOM.\n").repeated(50));
    text.close();
    try {
        readImageNumber(text.fileName());
        QFAIL("a text file gave an image number");
    } catch (const ImagingError& error) {
        QVERIFY(error.message().contains(QStringLiteral("plain.txt")));
    }
}

void TestImaging::textValuesComeBackAsUtf8() {
    VariantSpec latin1;
    latin1.characterSet = QStringLiteral("ISO_IR 100");
    latin1.base.patientId = QStringLiteral("Kuh Ä");
    latin1.patientName = QStringLiteral("Müller^Kuh");
    const QString file = write(QStringLiteral("latin1.dcm"), latin1);
    QCOMPARE(readImageNumber(file), QStringLiteral("Kuh Ä"));

    ImageCollection images;
    images.readFile(file);
    QCOMPARE(images.item(1).imageNumber(), QStringLiteral("Kuh Ä"));
    QCOMPARE(images.item(1).patientName(), QStringLiteral("Müller^Kuh"));

    // A non-ASCII value set on an ASCII image switches it to UTF-8.
    images.readFile(write(QStringLiteral("ascii.dcm"), VariantSpec{}));
    Image& image = images.item(2);
    image.setImageNumber(QStringLiteral("Kuh Ä"));
    image.addAttribute(0x0008, 0x0080, QStringLiteral("Jungrind Öhringen"));
    image.write(path(QStringLiteral("utf8.dcm")), true);
    images.item(1).write(path(QStringLiteral("latin1-out.dcm")), true);

    images.clear();
    images.readFile(path(QStringLiteral("utf8.dcm")));
    images.readFile(path(QStringLiteral("latin1-out.dcm")));
    QCOMPARE(images.item(1).imageNumber(), QStringLiteral("Kuh Ä"));
    QCOMPARE(images.item(1).attribute(0x0008, 0x0080).value(), QStringLiteral("Jungrind Öhringen"));
    QCOMPARE(images.item(1).attribute(0x0008, 0x0005).value(), QStringLiteral("ISO_IR 192"));
    QCOMPARE(images.item(2).patientName(), QStringLiteral("Müller^Kuh"));
    QCOMPARE(readImageNumber(path(QStringLiteral("utf8.dcm"))), QStringLiteral("Kuh Ä"));
}

void TestImaging::attributesAndProperties() {
    VariantSpec spec;
    spec.base.pixelSpacing = QStringLiteral("0.2\\0.3");
    ImageCollection images;
    images.readFile(write(QStringLiteral("attributes.dcm"), spec));
    Image& image = images.item(1);

    const Attribute spacing = image.attribute(0x0028, 0x0030);
    QVERIFY(!spacing.isNull());
    QCOMPARE(spacing.value(), QStringLiteral("0.2\\0.3"));
    QCOMPARE(spacing.valueCount(), 2);
    QCOMPARE(spacing.valueNumber(1), QStringLiteral("0.2"));
    QCOMPARE(spacing.valueNumber(2), QStringLiteral("0.3"));
    QCOMPARE(spacing.valueNumber(3), QString());
    QCOMPARE(image.attribute(0x0028, 0x0010).value(), QStringLiteral("48"));
    QCOMPARE(image.attribute(0x0008, 0x0020).value(), QStringLiteral("20261205"));

    // Null (absent) and empty (present without value) differ.
    QVERIFY(image.attribute(0x0010, 0x1020).isNull());
    image.addAttribute(0x0010, 0x1020, QString());
    QVERIFY(!image.attribute(0x0010, 0x1020).isNull());
    QCOMPARE(image.attribute(0x0010, 0x1020).value(), QString());

    // add replaces; text VRs keep a backslash inside their one value.
    image.addAttribute(0x0008, 0x0080, QStringLiteral("Jungrind"));
    image.addAttribute(0x0008, 0x0080, QStringLiteral("Altrind"));
    QCOMPARE(image.attribute(0x0008, 0x0080).value(), QStringLiteral("Altrind"));
    image.addAttribute(0x0010, 0x21B0, QStringLiteral("a\\b"));
    QCOMPARE(image.attribute(0x0010, 0x21B0).valueCount(), 1);
    QVERIFY_THROWS_EXCEPTION(ImagingError, image.addAttribute(0x0018, 0x6011, QStringLiteral("x")));

    image.setImageNumber(QStringLiteral("17"));
    image.setPatientName(QStringLiteral("17^17"));
    image.setBirthDate(QStringLiteral("20260101"));
    image.setSex(QStringLiteral("O"));
    image.setStudyUid(QStringLiteral("1.2.3"));
    image.setSeriesUid(QStringLiteral("1.2.4"));
    image.setImageUid(QStringLiteral("1.2.5"));
    QCOMPARE(image.attribute(0x0010, 0x0020).value(), QStringLiteral("17"));
    QCOMPARE(image.patientName(), QStringLiteral("17^17"));
    QCOMPARE(image.birthDate(), QStringLiteral("20260101"));
    QCOMPARE(image.sex(), QStringLiteral("O"));
    QCOMPARE(image.studyUid(), QStringLiteral("1.2.3"));
    QCOMPARE(image.seriesUid(), QStringLiteral("1.2.4"));
    QCOMPARE(image.imageUid(), QStringLiteral("1.2.5"));

    // A new window changes what is shown.
    const QImage before = image.displayImage();
    image.addAttribute(0x0028, 0x1050, QStringLiteral("20"));
    image.addAttribute(0x0028, 0x1051, QStringLiteral("10"));
    QVERIFY(image.displayImage() != before);
}

void TestImaging::collectionsAndLabelLists() {
    int notified = 0;
    ImageCollection images;
    images.setChangeNotifier([&notified] { ++notified; });
    const QString file = write(QStringLiteral("collection.dcm"), VariantSpec{});
    images.readFile(file);
    images.readFile(file);
    QCOMPARE(images.count(), 2);
    QCOMPARE(notified, 2);
    QVERIFY_THROWS_EXCEPTION(ImagingError, images.item(0));
    QVERIFY_THROWS_EXCEPTION(ImagingError, images.item(3));

    // add keeps a copy; later changes of the original do not reach it.
    Image outside = images.item(1);
    images.add(outside);
    outside.setImageNumber(QStringLiteral("changed"));
    QCOMPARE(images.count(), 3);
    QCOMPARE(notified, 3);
    QVERIFY(images.item(3).imageNumber() != QStringLiteral("changed"));

    Label first;
    first.text = QStringLiteral("eins");
    Label second;
    second.text = QStringLiteral("zwei");
    LabelList& labels = images.item(1).labels();
    labels.add(first);
    labels.add(second);
    QCOMPARE(labels.count(), 2);
    QCOMPARE(labels.item(labels.count()).text, QStringLiteral("zwei"));
    QVERIFY_THROWS_EXCEPTION(ImagingError, labels.remove(3));
    labels.remove(2);
    QCOMPARE(labels.item(1).text, QStringLiteral("eins"));

    // Label refresh notifies for an image in the collection only.
    images.item(1).refreshLabels(false);
    QCOMPARE(notified, 4);
    outside.refreshLabels(false);
    QCOMPARE(notified, 4);
    images.clear();
    QCOMPARE(images.count(), 0);
    QCOMPARE(notified, 5);
}

// ---------------------------------------------------------------- measuring

void TestImaging::measuredLength_data() {
    QTest::addColumn<QString>("spacing");
    QTest::addColumn<QList<fixtures::UsRegion>>("regions");
    QTest::addColumn<int>("left");
    QTest::addColumn<int>("top");
    QTest::addColumn<int>("height");
    QTest::addColumn<double>("length");
    QTest::addColumn<QString>("unit");

    using R = fixtures::UsRegion;
    const QList<R> none;
    const QList<R> one{R{0, 0, 63, 47, 3, 0.05}};
    const QList<R> two{R{0, 0, 31, 47, 3, 0.1}, R{32, 0, 63, 47, 3, 0.05}};
    const QList<R> stacked{R{0, 0, 63, 20, 3, 0.05}, R{0, 21, 63, 47, 3, 0.05}};
    QTest::newRow("pixel spacing") << "0.2\\0.3" << none << 10 << 44 << -40 << 8.0 << "mm";
    QTest::newRow("spacing before region") << "0.2\\0.3" << one << 10 << 4 << 40 << 8.0 << "mm";
    QTest::newRow("decimal comma") << "0,2\\0,2" << none << 10 << 4 << 40 << 8.0 << "mm";
    QTest::newRow("cm region") << "" << one << 10 << 4 << 40 << 20.0 << "mm";
    QTest::newRow("negative delta")
        << "" << QList<R>{R{0, 0, 63, 47, 3, -0.05}} << 10 << 4 << 40 << 20.0 << "mm";
    QTest::newRow("second region") << "" << two << 40 << 4 << 40 << 20.0 << "mm";
    QTest::newRow("first of two") << "" << two << 10 << 4 << 40 << 40.0 << "mm";
    QTest::newRow("line leaves region") << "" << stacked << 10 << 10 << 20 << 20.0 << "px";
    QTest::newRow("region not in cm")
        << "" << QList<R>{R{0, 0, 63, 47, 4, 0.05}} << 10 << 4 << 40 << 40.0 << "px";
    QTest::newRow("no calibration") << "" << none << 10 << 44 << -40 << 40.0 << "px";
    QTest::newRow("zero spacing") << "0\\0" << none << 10 << 4 << 40 << 40.0 << "px";
    QTest::newRow("zero height") << "0.2\\0.2" << none << 10 << 4 << 0 << 0.0 << "mm";
}

void TestImaging::measuredLength() {
    QFETCH(QString, spacing);
    QFETCH(QList<fixtures::UsRegion>, regions);
    QFETCH(int, left);
    QFETCH(int, top);
    QFETCH(int, height);
    QFETCH(double, length);
    QFETCH(QString, unit);

    VariantSpec spec;
    spec.base.pixelSpacing = spacing;
    spec.regions = regions;
    ImageCollection images;
    images.readFile(write(QStringLiteral("measure.dcm"), spec));

    Label line;
    line.kind = Label::Line;
    line.left = left;
    line.top = top;
    line.height = height;
    line.bindToImage(images.item(1));
    QCOMPARE(line.measuredLength(), length);
    QCOMPARE(line.unitText(), unit);
}

// ---------------------------------------------------------------- writing

void TestImaging::writeThenReadKeepsEverything_data() {
    QTest::addColumn<VariantSpec>("spec");
    QTest::addColumn<bool>("part10");

    VariantSpec spec;
    spec.base.patientId = QStringLiteral("23");
    spec.base.pixelSpacing = QStringLiteral("0.2\\0.2");
    spec.regions = {fixtures::UsRegion{0, 0, 63, 47, 3, 0.05}};
    QTest::newRow("uncompressed") << spec << true;
    QTest::newRow("without file meta") << spec << false;
    spec.encoding = Encoding::Rle;
    QTest::newRow("rle") << spec << true;
    spec.encoding = Encoding::JpegLs;
    spec.colour = Colour::Rgb;
    QTest::newRow("jpeg-ls rgb") << spec << true;
    spec.encoding = Encoding::ExplicitBig;
    spec.colour = Colour::Monochrome2;
    spec.bitsStored = 12;
    QTest::newRow("big endian 16 bit") << spec << true;
}

void TestImaging::writeThenReadKeepsEverything() {
    QFETCH(VariantSpec, spec);
    QFETCH(bool, part10);
    const QString source = write(QStringLiteral("source.dcm"), spec);
    const QString target = path(QStringLiteral("copy.dcm"));

    ImageCollection images;
    images.readFile(source);
    images.item(1).write(target, part10);
    images.readFile(target);
    QCOMPARE(images.item(2).displayImage(), images.item(1).displayImage());
    QCOMPARE(images.item(2).imageNumber(), QStringLiteral("23"));

    DcmFileFormat before;
    DcmFileFormat after;
    QVERIFY(before.loadFile(QFile::encodeName(source).constData()).good());
    QVERIFY(after.loadFile(QFile::encodeName(target).constData()).good());
    QCOMPARE(after.getMetaInfo()->card() > 0, part10);
    QCOMPARE(after.getDataset()->getOriginalXfer(),
             part10 ? EXS_LittleEndianExplicit : EXS_LittleEndianImplicit);
    DcmDataset& original = *before.getDataset();
    QVERIFY(original.chooseRepresentation(EXS_LittleEndianExplicit, nullptr).good());
    DcmDataset& copy = *after.getDataset();
    for (unsigned long i = 0; i < original.card(); ++i) {
        DcmElement* element = original.getElement(i);
        DcmElement* written = nullptr;
        QVERIFY2(copy.findAndGetElement(element->getTag(), written).good(),
                 element->getTag().toString().c_str());
        QVERIFY2(element->compare(*written) == 0, element->getTag().toString().c_str());
    }
    QCOMPARE(copy.card(), original.card());
}

void TestImaging::failedWriteKeepsTarget_data() {
    QTest::addColumn<QString>("cause");
    QTest::newRow("read-only folder") << QStringLiteral("read-only");
    QTest::newRow("target is a folder") << QStringLiteral("folder");
    QTest::newRow("folder is a file") << QStringLiteral("file");
}

void TestImaging::failedWriteKeepsTarget() {
    QFETCH(QString, cause);
    QTemporaryDir sandbox;
    const QString folder = sandbox.filePath(QStringLiteral("Gemessen"));
    QVERIFY(QDir().mkpath(folder));
    QString target = folder + QStringLiteral("/17.dcm");
    QByteArray old("old content");
    if (cause == QLatin1String("read-only")) {
        if (ignoresFilePermissions()) {
            QSKIP("permissions are not enforced for this user");
        }
        QFile file(target);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(old);
        file.close();
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
    } else if (cause == QLatin1String("folder")) {
        QVERIFY(QDir().mkpath(target));
        QFile inside(target + QStringLiteral("/keep.txt"));
        QVERIFY(inside.open(QIODevice::WriteOnly));
        inside.write(old);
    } else {
        QFile plain(folder + QStringLiteral("/plain"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.write(old);
        target = plain.fileName() + QStringLiteral("/17.dcm");
    }

    ImageCollection images;
    images.readFile(write(QStringLiteral("write-source.dcm"), VariantSpec{}));
    try {
        images.item(1).write(target, true);
        QFAIL("the write did not fail");
    } catch (const ImagingError& error) {
        QVERIFY2(error.message().contains(QStringLiteral("17.dcm")), qPrintable(error.message()));
    }
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (cause == QLatin1String("read-only")) {
        QFile file(target);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), old);
    } else if (cause == QLatin1String("folder")) {
        QFile inside(target + QStringLiteral("/keep.txt"));
        QVERIFY(inside.open(QIODevice::ReadOnly));
        QCOMPARE(inside.readAll(), old);
    }
    const QStringList left =
        QDir(folder).entryList(QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
    QCOMPARE(left.size(), 1);
}

void TestImaging::savedCopyCarriesBurnedInLabels() {
    VariantSpec spec;
    spec.base.patientId = QStringLiteral("17");
    spec.base.pixelSpacing = QStringLiteral("0.2\\0.2");
    spec.encoding = Encoding::JpegLs;
    ImageCollection images;
    images.readFile(write(QStringLiteral("measured.dcm"), spec));
    Image& original = images.item(1);

    Label line;
    line.kind = Label::Line;
    line.left = 10;
    line.top = 5;
    line.height = 30;
    line.colour = 255;
    line.bindToImage(original);
    Label text;
    text.kind = Label::Text;
    text.left = 30;
    text.top = 10;
    text.colour = 0xFF0000; // blue
    text.text = QStringLiteral("6 mm");
    text.size = 20;
    original.labels().add(line);
    original.labels().add(text);

    const Image copy = original.saveImage(true);
    QCOMPARE(copy.labels().count(), 0);
    QCOMPARE(original.labels().count(), 2);
    QVERIFY(copy.imageUid() != original.imageUid());
    QCOMPARE(copy.imageNumber(), QStringLiteral("17"));
    QCOMPARE(copy.studyUid(), original.studyUid());
    QCOMPARE(copy.attribute(0x0028, 0x0030).value(), QStringLiteral("0.2\\0.2"));
    QCOMPARE(copy.attribute(0x0008, 0x0020).value(), QStringLiteral("20261205"));
    QCOMPARE(copy.attribute(0x0008, 0x0008).value(), QStringLiteral("DERIVED\\SECONDARY"));
    QCOMPARE(copy.attribute(0x0028, 0x0301).value(), QStringLiteral("YES"));
    QCOMPARE(copy.attribute(0x0028, 0x0004).value(), QStringLiteral("RGB"));

    const QString file = path(QStringLiteral("17.dcm"));
    copy.write(file, true);
    images.readFile(file);
    const QImage shown = images.item(2).displayImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(shown.size(), QSize(64, 48));
    QCOMPARE(shown.pixel(10, 20), qRgb(255, 0, 0));
    QCOMPARE(shown.pixel(10, 4),
             original.displayImage().convertToFormat(QImage::Format_RGB32).pixel(10, 4));
    const QImage unlabelled = original.displayImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(shown.pixel(50, 40), unlabelled.pixel(50, 40));
    int blue = 0;
    for (int y = 10; y < 30; ++y) {
        for (int x = 30; x < 64; ++x) {
            blue += shown.pixel(x, y) == qRgb(0, 0, 255) ? 1 : 0;
        }
    }
    QVERIFY2(blue > 10, "the text was not burned in");
    QCOMPARE(images.item(2).attribute(0x0028, 0x0030).value(), QStringLiteral("0.2\\0.2"));
    QCOMPARE(images.item(2).labels().count(), 0);
}

// ---------------------------------------------------------------- bitmaps

void TestImaging::importsBitmapsExactly_data() {
    QTest::addColumn<fixtures::BmpSpec>("spec");
    QTest::addColumn<QString>("photometric");

    const auto row = [](const char* name, int bits, bool grey, bool topDown) {
        fixtures::BmpSpec spec;
        spec.bits = bits;
        spec.greyPalette = grey;
        spec.topDown = topDown;
        const bool monochrome = bits <= 8 && grey;
        QTest::newRow(name) << spec << (monochrome ? "MONOCHROME2" : "RGB");
    };
    row("1 bit grey", 1, true, false);
    row("1 bit colour top-down", 1, false, true);
    row("4 bit grey", 4, true, false);
    row("4 bit colour", 4, false, false);
    row("8 bit grey", 8, true, false);
    row("8 bit grey top-down", 8, true, true);
    row("8 bit colour", 8, false, false);
    row("24 bit", 24, false, false);
    row("24 bit top-down", 24, false, true);
    row("32 bit", 32, false, false);
    row("32 bit top-down", 32, false, true);
}

void TestImaging::importsBitmapsExactly() {
    QFETCH(fixtures::BmpSpec, spec);
    QFETCH(QString, photometric);
    const QString bitmap = path(QStringLiteral("import.bmp"));
    fixtures::writeBmp(bitmap, spec);

    Image image;
    image.importBitmap(bitmap, QStringLiteral("BMP"));
    QCOMPARE(image.width(), spec.width);
    QCOMPARE(image.height(), spec.height);
    QCOMPARE(image.attribute(0x0028, 0x0004).value(), photometric);
    QCOMPARE(image.attribute(0x0028, 0x0100).value(), QStringLiteral("8"));
    QCOMPARE(image.attribute(0x0008, 0x0016).value(), QStringLiteral("1.2.840.10008.5.1.4.1.1.7"));

    const QString file = path(QStringLiteral("import.dcm"));
    image.write(file, true);
    const QByteArray pixels = rawPixels(file);
    const bool grey = photometric == QLatin1String("MONOCHROME2");
    const int samples = grey ? 1 : 3;
    QVERIFY(pixels.size() >= spec.width * spec.height * samples);
    for (int y = 0; y < spec.height; ++y) {
        for (int x = 0; x < spec.width; ++x) {
            const QRgb want = fixtures::bmpColour(spec, x, y);
            const auto* p =
                reinterpret_cast<const uchar*>(pixels.constData()) + (y * spec.width + x) * samples;
            const QRgb got = grey ? qRgb(p[0], p[0], p[0]) : qRgb(p[0], p[1], p[2]);
            QVERIFY2(got == want, qPrintable(QStringLiteral("pixel (%1,%2)").arg(x).arg(y)));
        }
    }
    // What is shown is the bitmap as it was, not stretched.
    QCOMPARE(image.displayImage().convertToFormat(QImage::Format_RGB32).pixel(1, 1),
             fixtures::bmpColour(spec, 1, 1));
}

void TestImaging::refusesWhatIsNoBitmap_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("format");

    QByteArray png;
    {
        QImage picture(8, 8, QImage::Format_RGB32);
        picture.fill(Qt::red);
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        picture.save(&buffer, "PNG");
    }
    QTest::newRow("text") << "text.bmp" << QByteArray("Das ist kein Bild.") << "BMP";
    QTest::newRow("png named bmp") << "png.bmp" << png << "BMP";
    QTest::newRow("header only") << "cut.bmp" << QByteArray("BM\x36\x00\x00\x00", 6) << "BMP";
    QTest::newRow("other format") << "good.bmp" << QByteArray() << "PNG";
}

void TestImaging::refusesWhatIsNoBitmap() {
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QString, format);
    const QString file = path(name);
    if (content.isEmpty()) {
        fixtures::writeBmp(file, fixtures::BmpSpec{});
    } else {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    fixtures::BmpSpec earlier;
    earlier.width = 5;
    fixtures::writeBmp(path(QStringLiteral("earlier.bmp")), earlier);
    Image image;
    image.importBitmap(path(QStringLiteral("earlier.bmp")), QStringLiteral("bmp"));
    try {
        image.importBitmap(file, format);
        QFAIL("the import was not refused");
    } catch (const ImagingError& error) {
        QVERIFY2(error.message().contains(name), qPrintable(error.message()));
    }
    QCOMPARE(image.width(), 5);
}

// ---------------------------------------------------------------- UIDs

void TestImaging::uidsAreUniqueAndValid() {
    const QRegularExpression valid(QStringLiteral("^2\\.25\\.(0|[1-9][0-9]*)$"));
    std::set<QString> seen;
    UidGenerator first;
    UidGenerator second;
    for (int i = 0; i < 2000; ++i) {
        for (UidGenerator* generator : {&first, &second}) {
            const QString uid = generator->newUid();
            QVERIFY2(uid.size() <= 64, qPrintable(uid));
            QVERIFY2(valid.match(uid).hasMatch(), qPrintable(uid));
            QVERIFY2(seen.insert(uid).second, qPrintable(uid));
        }
    }
}

// ---------------------------------------------------------------- viewer

void TestImaging::viewerMapsImagePixels() {
    DicomViewer viewer;
    viewer.resize(200, 100);
    viewer.show();
    QVERIFY(QTest::qWaitForWindowExposed(&viewer));
    viewer.setTag(QStringLiteral("ORIGINAL"));
    QCOMPARE(viewer.tag(), QStringLiteral("ORIGINAL"));

    // Empty: a plain dark background.
    const QImage empty = viewer.grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(empty.pixel(100, 50), qRgb(0, 0, 0));

    viewer.images().readFile(write(QStringLiteral("viewer.dcm"), VariantSpec{}));
    // 64 x 48 in 200 x 100: scaled by 100/48, centred horizontally.
    const double scale = 100.0 / 48.0;
    const QPointF origin((200 - 64 * scale) / 2, 0);
    QCOMPARE(viewer.imageToWidget(QPointF(0, 0)), origin);
    QCOMPARE(viewer.imageToWidget(QPointF(64, 48)), origin + QPointF(64 * scale, 48 * scale));
    for (const QPoint p : {QPoint(0, 0), QPoint(10, 20), QPoint(63, 47)}) {
        QCOMPARE(viewer.widgetToImage(viewer.imageToWidget(p) + QPointF(0.5, 0.5)), p);
    }

    QSignalSpy spy(&viewer, &DicomViewer::viewerMouseEvent);
    const QPoint click = viewer.imageToWidget(QPointF(10.5, 20.5)).toPoint();
    QTest::mouseClick(&viewer, Qt::LeftButton, Qt::ShiftModifier, click);
    QTest::mouseClick(&viewer, Qt::RightButton, Qt::NoModifier, click);
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(0), (QList<QVariant>{1, 1, 10, 20}));
    QCOMPARE(spy.at(1), (QList<QVariant>{2, 0, 10, 20}));

    Label line;
    line.kind = Label::Line;
    line.left = 32;
    line.top = 0;
    line.height = 47;
    line.colour = 0x00FF00; // green
    viewer.images().item(1).labels().add(line);
    viewer.images().item(1).refreshLabels(false);
    const QImage shown = viewer.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QPoint onLine = viewer.imageToWidget(QPointF(32.5, 24)).toPoint();
    QCOMPARE(shown.pixel(onLine), qRgb(0, 255, 0));
    QCOMPARE(shown.pixel(5, 50), qRgb(0, 0, 0)); // the bar beside the image
    const QPoint corner = viewer.imageToWidget(QPointF(63.5, 47.5)).toPoint();
    QVERIFY(qGray(shown.pixel(corner)) > 240);
}

QTEST_MAIN(TestImaging)
#include "tst_imaging.moc"
