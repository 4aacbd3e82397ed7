#include "BitmapCheck.h"
#include "ImageImpl.h"
#include "imaging/ImagingError.h"
#include "imaging/Initialise.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcuid.h>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include <algorithm>
#include <array>

namespace imaging {

namespace {

QString importError(const QString& path, const QString& cause) {
    return QStringLiteral("Die Datei %1 kann nicht als Bitmap übernommen werden: %2.")
        .arg(detail::quoted(path), cause);
}

bool isIndexed(const QImage& image) {
    return image.format() == QImage::Format_Mono || image.format() == QImage::Format_MonoLSB ||
           image.format() == QImage::Format_Indexed8;
}

bool hasGreyPalette(const QImage& image) {
    if (image.format() == QImage::Format_Grayscale8) {
        return true;
    }
    if (!isIndexed(image) || image.colorTable().isEmpty()) {
        return false;
    }
    const QList<QRgb> table = image.colorTable();
    return std::all_of(table.cbegin(), table.cend(),
                       [](QRgb c) { return qRed(c) == qGreen(c) && qGreen(c) == qBlue(c); });
}

// The grey value of every pixel, taken from the palette entry it indexes.
QByteArray greyPixels(const QImage& source) {
    const QImage image = source.format() == QImage::Format_Grayscale8
                             ? source
                             : source.convertToFormat(QImage::Format_Indexed8);
    std::array<char, 256> grey{};
    const QList<QRgb> table = image.colorTable();
    for (qsizetype i = 0; i < table.size() && i < 256; ++i) {
        grey[static_cast<std::size_t>(i)] = static_cast<char>(qRed(table.at(i)));
    }
    const bool lookUp = image.format() == QImage::Format_Indexed8;
    QByteArray pixels;
    pixels.reserve(static_cast<qsizetype>(image.width()) * image.height());
    for (int y = 0; y < image.height(); ++y) {
        const uchar* line = image.constScanLine(y);
        for (int x = 0; x < image.width(); ++x) {
            pixels.append(lookUp ? grey[line[x]] : static_cast<char>(line[x]));
        }
    }
    return pixels;
}

// Interleaved R, G, B; an alpha channel is dropped, never blended.
QByteArray rgbPixels(const QImage& source) {
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    QByteArray pixels;
    pixels.reserve(static_cast<qsizetype>(image.width()) * image.height() * 3);
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            pixels.append(static_cast<char>(qRed(line[x])));
            pixels.append(static_cast<char>(qGreen(line[x])));
            pixels.append(static_cast<char>(qBlue(line[x])));
        }
    }
    return pixels;
}

QString readerCause(QImageReader::ImageReaderError error) {
    switch (error) {
    case QImageReader::FileNotFoundError:
        return QStringLiteral("die Datei wurde nicht gefunden");
    case QImageReader::DeviceError:
        return QStringLiteral("die Datei kann nicht gelesen werden");
    default:
        return QStringLiteral("sie ist keine BMP-Datei oder ist beschädigt");
    }
}

void put(DcmDataset& dataset, const DcmTagKey& key, const QString& value) {
    dataset.putAndInsertString(key, value.toLatin1().constData());
}

} // namespace

void Image::importBitmap(const QString& path, const QString& format) {
    initialise();
    if (format.compare(QLatin1String("BMP"), Qt::CaseInsensitive) != 0) {
        throw ImagingError(importError(
            path, QStringLiteral("das Format „%1“ wird nicht unterstützt, nur BMP").arg(format)));
    }
    if (!QFileInfo(path).isFile()) {
        throw ImagingError(importError(path, QStringLiteral("die Datei wurde nicht gefunden")));
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw ImagingError(importError(path, file.error() == QFileDevice::PermissionsError
                                                 ? QStringLiteral("keine Berechtigung")
                                                 : QStringLiteral("die Datei kann nicht geöffnet "
                                                                  "werden")));
    }
    const QString cut = detail::bitmapTruncation(file.peek(54), file.size());
    if (!cut.isEmpty()) {
        throw ImagingError(importError(path, cut));
    }
    QImageReader reader(&file, "bmp");
    reader.setDecideFormatFromContent(false);
    reader.setAutoTransform(false);
    QImage bitmap;
    if (!reader.canRead() || !reader.read(&bitmap)) {
        throw ImagingError(importError(path, readerCause(reader.error())));
    }
    if (bitmap.width() > 0xFFFF || bitmap.height() > 0xFFFF) {
        throw ImagingError(importError(path, QStringLiteral("das Bild ist zu groß")));
    }

    auto fresh = std::make_unique<Impl>();
    DcmDataset& dataset = fresh->dataset();
    const bool grey = hasGreyPalette(bitmap);
    const QByteArray pixels = grey ? greyPixels(bitmap) : rgbPixels(bitmap);

    const QDateTime now = QDateTime::currentDateTime();
    dataset.putAndInsertString(DCM_SOPClassUID, UID_SecondaryCaptureImageStorage);
    put(dataset, DCM_SOPInstanceUID, detail::newUid());
    put(dataset, DCM_StudyInstanceUID, detail::newUid());
    put(dataset, DCM_SeriesInstanceUID, detail::newUid());
    put(dataset, DCM_StudyDate, now.toString(QStringLiteral("yyyyMMdd")));
    put(dataset, DCM_StudyTime, now.toString(QStringLiteral("HHmmss")));
    put(dataset, DCM_ContentDate, now.toString(QStringLiteral("yyyyMMdd")));
    put(dataset, DCM_ContentTime, now.toString(QStringLiteral("HHmmss")));
    dataset.putAndInsertString(DCM_ConversionType, "WSD");
    detail::completeSecondaryCapture(dataset);

    dataset.putAndInsertUint16(DCM_SamplesPerPixel, grey ? 1 : 3);
    dataset.putAndInsertString(DCM_PhotometricInterpretation, grey ? "MONOCHROME2" : "RGB");
    if (grey) {
        // The identity window: the bitmap is shown as it was, not stretched.
        dataset.putAndInsertString(DCM_WindowCenter, "128");
        dataset.putAndInsertString(DCM_WindowWidth, "256");
    } else {
        dataset.putAndInsertUint16(DCM_PlanarConfiguration, 0);
    }
    dataset.putAndInsertUint16(DCM_Rows, static_cast<Uint16>(bitmap.height()));
    dataset.putAndInsertUint16(DCM_Columns, static_cast<Uint16>(bitmap.width()));
    dataset.putAndInsertUint16(DCM_BitsAllocated, 8);
    dataset.putAndInsertUint16(DCM_BitsStored, 8);
    dataset.putAndInsertUint16(DCM_HighBit, 7);
    dataset.putAndInsertUint16(DCM_PixelRepresentation, 0);
    const OFCondition status = dataset.putAndInsertUint8Array(
        DCM_PixelData, reinterpret_cast<const Uint8*>(pixels.constData()),
        static_cast<unsigned long>(pixels.size()));
    if (status.bad()) {
        throw ImagingError(importError(path, QString::fromLatin1(status.text())));
    }
    d = std::move(fresh);
    m_labels.clear();
    refreshLabels(false);
}

} // namespace imaging
