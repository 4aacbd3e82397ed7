// Frame 1 of an image rendered for display.

#include "ImageImpl.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcxfer.h>
#include <dcmtk/dcmimage/diregist.h>
#include <dcmtk/dcmimgle/dcmimage.h>

#include <algorithm>
#include <limits>

namespace imaging {

namespace {

QString statusText(EI_Status status) {
    QString text;
    switch (status) {
    case EIS_MissingAttribute:
        text = QStringLiteral("die Beschreibung der Pixeldaten ist unvollständig");
        break;
    case EIS_NotSupportedValue:
        text = QStringLiteral("die Kodierung der Pixeldaten wird nicht unterstützt");
        break;
    case EIS_MemoryFailure:
        text = detail::memoryCause();
        break;
    default:
        text = QStringLiteral("die Pixeldaten sind ungültig oder können nicht dekodiert werden");
        break;
    }
    return text;
}

} // namespace

namespace detail {

namespace {

// Rows of 8-bit samples, interleaved, copied into a new image of the format;
// a null image when there is no memory for it.
QImage copied(const uchar* pixels, int width, int height, QImage::Format format) {
    QImage result(width, height, format);
    if (result.isNull()) {
        return result;
    }
    const qsizetype rowBytes = qsizetype(width) * (format == QImage::Format_Grayscale8 ? 1 : 3);
    for (int y = 0; y < height; ++y) {
        std::copy_n(pixels + y * rowBytes, rowBytes, result.scanLine(y));
    }
    return result;
}

// Frame 1 of native 8-bit RGB with interleaved samples, which is already
// what the display holds: DicomImage would split it into planes and join
// them again unchanged. A null image for any other pixel data.
QImage nativeRgb(DcmDataset& dataset) {
    const DcmXfer syntax(dataset.getOriginalXfer());
    Uint16 rows = 0;
    Uint16 columns = 0;
    Uint16 samples = 0;
    Uint16 allocated = 0;
    Uint16 stored = 0;
    Uint16 highBit = 0;
    Uint16 representation = 0;
    Uint16 planar = 0;
    OFString photometric;
    DcmElement* element = nullptr;
    const Uint8* pixels = nullptr;
    if (syntax.isEncapsulated() || syntax.isBigEndian() ||
        dataset.findAndGetUint16(DCM_SamplesPerPixel, samples).bad() || samples != 3 ||
        dataset.findAndGetOFString(DCM_PhotometricInterpretation, photometric).bad() ||
        photometric != "RGB" || dataset.findAndGetUint16(DCM_BitsAllocated, allocated).bad() ||
        allocated != 8 || dataset.findAndGetUint16(DCM_BitsStored, stored).bad() || stored != 8 ||
        dataset.findAndGetUint16(DCM_HighBit, highBit).bad() || highBit != 7 ||
        dataset.findAndGetUint16(DCM_PixelRepresentation, representation).bad() ||
        representation != 0 || dataset.findAndGetUint16(DCM_PlanarConfiguration, planar).bad() ||
        planar != 0 || dataset.findAndGetUint16(DCM_Rows, rows).bad() ||
        dataset.findAndGetUint16(DCM_Columns, columns).bad() || rows == 0 || columns == 0 ||
        dataset.findAndGetElement(DCM_PixelData, element).bad() ||
        qint64{element->getLength()} < qint64{rows} * columns * 3 ||
        dataset.findAndGetUint8Array(DCM_PixelData, pixels).bad() || pixels == nullptr) {
        return {};
    }
    return copied(pixels, columns, rows, QImage::Format_RGB888);
}

QImage renderChecked(DcmDataset& dataset, QString* cause) {
    if (!dataset.tagExists(DCM_PixelData)) {
        *cause = QStringLiteral("sie enthält keine Pixeldaten");
        return {};
    }
    // The data set is in memory: only what it declares limits its size.
    *cause = pixelDataFault(dataset, std::numeric_limits<qint64>::max());
    if (!cause->isEmpty()) {
        return {};
    }
    if (QImage rgb = nativeRgb(dataset); !rgb.isNull()) {
        return rgb;
    }
    // Only frame 1 is decoded; a multi-frame file shows its first frame.
    DicomImage image(&dataset, dataset.getOriginalXfer(), CIF_UsePartialAccessToPixelData, 0, 1);
    if (image.getStatus() != EIS_Normal) {
        *cause = statusText(image.getStatus());
        return {};
    }
    const bool grey = image.isMonochrome();
    if (grey) {
        // A window DCMTK refuses (a width below 1, say) falls back to min-max.
        const bool windowed = (image.getWindowCount() > 0 && image.setWindow(0)) ||
                              (image.getVoiLutCount() > 0 && image.setVoiLut(0));
        if (!windowed) {
            image.setMinMaxWindow(0);
        }
    }
    const auto* pixels = static_cast<const uchar*>(image.getOutputData(8, 0, 0));
    if (pixels == nullptr) {
        *cause = statusText(image.getStatus() == EIS_Normal ? EIS_InvalidValue : image.getStatus());
        return {};
    }
    QImage result =
        copied(pixels, static_cast<int>(image.getWidth()), static_cast<int>(image.getHeight()),
               grey ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
    if (result.isNull()) {
        *cause = statusText(EIS_MemoryFailure);
    }
    return result;
}

} // namespace

QImage renderFrame(DcmDataset& dataset, QString* cause) {
    try {
        if (isJpeg2000(dataset)) {
            // The toolkit cannot decode it: frame 1 alone is decoded into a
            // copy of the attributes, the other frames stay compressed.
            DcmDataset firstFrame;
            *cause = decodeJpeg2000FirstFrame(dataset, firstFrame);
            return cause->isEmpty() ? renderChecked(firstFrame, cause) : QImage();
        }
        return renderChecked(dataset, cause);
    } catch (const std::bad_alloc&) {
        *cause = memoryCause();
        return {};
    }
}

} // namespace detail

QImage Image::displayImage() const {
    if (!d->rendered) {
        QString cause;
        d->display = detail::renderFrame(d->dataset(), &cause);
        d->rendered = true;
    }
    return d->display;
}

} // namespace imaging
