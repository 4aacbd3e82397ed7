#include "app/DemoWorkspace.h"

#include "core/Names.h"
#include "global/modGlobal.h"
#include "imaging/Imaging.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtMath>

#include <algorithm>
#include <random>

namespace demo {

namespace {

const int kCowNumbers[] = {17, 5, 230, 42, 118};
// The first number of a day of many cows.
constexpr int kFirstDayNumber = 2001;

// Brightness of the tissue at a depth: skin, two fat layers and the muscle
// boundary give bright horizontal bands.
double layerProfile(double depth) {
    const double bands[][3] = {
        {0.04, 0.015, 0.9}, {0.22, 0.012, 0.8}, {0.38, 0.01, 0.7}, {0.55, 0.02, 0.55}};
    double value = 0.18 + 0.25 * std::exp(-depth * 2.5);
    for (const auto& band : bands)
        value += band[2] * std::exp(-std::pow((depth - band[0]) / band[1], 2.0));
    return std::min(value, 1.0);
}

void writeDicom(const QString& bitmapPath, const QString& target, int cowNumber,
                const QDate& studyDate, imaging::UidGenerator& uids) {
    imaging::Image image;
    image.importBitmap(bitmapPath, QStringLiteral("BMP"));
    const QString number = QString::number(cowNumber);
    image.setStudyUid(uids.newUid());
    image.setSeriesUid(uids.newUid());
    image.setImageUid(uids.newUid());
    image.setPatientName(number + QLatin1Char('^') + number);
    image.setImageNumber(number);
    image.setSex(QStringLiteral("O"));
    const QString date = studyDate.toString(QStringLiteral("yyyyMMdd"));
    image.setBirthDate(date);
    image.addAttribute(0x0028, 0x0030, QStringLiteral("0.2\\0.2"));
    image.addAttribute(0x0008, 0x0020, date);
    image.addAttribute(0x0008, 0x0060, QStringLiteral("US"));
    image.addAttribute(0x0008, 0x0080, QStringLiteral("Demo"));
    image.write(target + QLatin1Char('/') + image.imageUid() + QStringLiteral(".dcm"), true);
}

} // namespace

QImage ultrasoundPicture(int width, int height, int seed) {
    // Speckle is grainy rather than per-pixel noise: draw it at a third of the
    // size and let smooth scaling spread each grain over a few pixels.
    std::mt19937 random(static_cast<unsigned>(seed));
    std::gamma_distribution<double> grain(1.5, 1.0 / 1.5);
    QImage speckle(width / 3, height / 3, QImage::Format_Grayscale8);
    for (int y = 0; y < speckle.height(); ++y) {
        uchar* line = speckle.scanLine(y);
        for (int x = 0; x < speckle.width(); ++x)
            line[x] = static_cast<uchar>(std::min(grain(random) * 85.0, 255.0));
    }
    speckle = speckle.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);

    QImage picture(width, height, QImage::Format_Grayscale8);
    picture.fill(0);
    const double apexX = width / 2.0;
    const double apexY = -height * 0.08;
    const double radius = height * 1.05;
    const double halfAngle = qDegreesToRadians(32.0);
    const double tilt = (seed % 7 - 3) * 0.004;
    for (int y = 0; y < height; ++y) {
        uchar* line = picture.scanLine(y);
        const uchar* grains = speckle.constScanLine(y);
        for (int x = 0; x < width; ++x) {
            const double dx = x - apexX;
            const double dy = y - apexY;
            const double r = std::hypot(dx, dy);
            const double angle = std::atan2(dx, dy);
            if (std::abs(angle) > halfAngle || r > radius || r < height * 0.1)
                continue;
            const double depth = r / radius + tilt * dx / width * 10.0;
            const double value = layerProfile(depth) * grains[x] * 1.8;
            line[x] = static_cast<uchar>(std::clamp(value, 0.0, 255.0));
        }
    }
    return picture;
}

bool isEmptyWorkspace(const QString& root) {
    const QDir measurements(root + QLatin1Char('/') + core::names::kMeasurements);
    const QDir waiting(root + QLatin1Char('/') + core::names::kWaiting);
    const bool noFolders = !measurements.exists() ||
                           measurements.entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty();
    const bool noBitmaps = !waiting.exists() || waiting.entryList(QDir::Files).isEmpty();
    return noFolders && noBitmaps;
}

bool fillWorkspace(const QString& root, const QDate& studyDate, int cows) {
    if (!isEmptyWorkspace(root))
        return false;
    const QString original = root + QLatin1Char('/') + core::names::kMeasurements +
                             QLatin1Char('/') + core::names::kCurrentMeasurement +
                             QLatin1Char('/') + core::names::kOriginal;
    const QString waiting = root + QLatin1Char('/') + core::names::kWaiting;
    if (!QDir().mkpath(original) || !QDir().mkpath(waiting))
        throw modGlobal::FileSystemError(QStringLiteral("Ordner anlegen"), original,
                                         QStringLiteral("Keine Berechtigung."));
    QTemporaryDir scratch;
    imaging::UidGenerator uids;
    QList<int> numbers(std::begin(kCowNumbers), std::end(kCowNumbers));
    if (cows > 0) {
        numbers.clear();
        for (int i = 0; i < cows; ++i)
            numbers << kFirstDayNumber + i;
    }
    for (int cow : std::as_const(numbers)) {
        const QString bitmap = scratch.path() + QStringLiteral("/cow.bmp");
        ultrasoundPicture(640, 480, cow).convertToFormat(QImage::Format_Indexed8).save(bitmap);
        writeDicom(bitmap, original, cow, studyDate, uids);
    }
    for (int i = 1; i <= 2; ++i) {
        const QString bitmap = waiting + QStringLiteral("/Scan_%1.bmp").arg(i);
        if (!ultrasoundPicture(640, 480, 1000 + i).save(bitmap))
            throw modGlobal::FileSystemError(QStringLiteral("Bild schreiben"), bitmap,
                                             QStringLiteral("Keine Berechtigung."));
    }
    return true;
}

} // namespace demo
