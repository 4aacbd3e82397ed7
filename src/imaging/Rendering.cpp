// Frame 1 of an image rendered for display.

#include "ImageImpl.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcxfer.h>
#include <dcmtk/dcmimage/diregist.h>
#include <dcmtk/dcmimgle/dcmimage.h>

#include <algorithm>
#include <limits>
#include <vector>

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

// Frame 1 of native pixel data with unsigned 8-bit samples, all 8 bits
// stored, in the colour model and samples per pixel given, read into an image
// of the format; a null image for any other pixel data or when the read
// fails. As DicomImage does, only frame 1 is read, not all frames of a cine.
// Big-endian files are left to DicomImage, which knows their byte order.
QImage native8Bit(DcmDataset& dataset, const char* model, Uint16 samplesPerPixel,
                  QImage::Format format) {
    const DcmXfer syntax(dataset.getOriginalXfer());
    Uint16 rows = 0;
    Uint16 columns = 0;
    Uint16 samples = 0;
    Uint16 allocated = 0;
    Uint16 stored = 0;
    Uint16 highBit = 0;
    Uint16 representation = 0;
    OFString photometric;
    DcmElement* element = nullptr;
    if (syntax.isEncapsulated() || syntax.isBigEndian() ||
        dataset.findAndGetUint16(DCM_SamplesPerPixel, samples).bad() ||
        samples != samplesPerPixel ||
        dataset.findAndGetOFString(DCM_PhotometricInterpretation, photometric).bad() ||
        photometric != model || dataset.findAndGetUint16(DCM_BitsAllocated, allocated).bad() ||
        allocated != 8 || dataset.findAndGetUint16(DCM_BitsStored, stored).bad() || stored != 8 ||
        dataset.findAndGetUint16(DCM_HighBit, highBit).bad() || highBit != 7 ||
        dataset.findAndGetUint16(DCM_PixelRepresentation, representation).bad() ||
        representation != 0 || dataset.findAndGetUint16(DCM_Rows, rows).bad() ||
        dataset.findAndGetUint16(DCM_Columns, columns).bad() || rows == 0 || columns == 0 ||
        dataset.findAndGetElement(DCM_PixelData, element).bad() ||
        qint64{element->getLength()} < qint64{rows} * columns * samples) {
        return {};
    }
    // At most the value's length, which is a Uint32.
    const qsizetype rowBytes = qsizetype(columns) * samples;
    const auto frameBytes = static_cast<Uint32>(rowBytes * rows);
    // An image's rows start at multiples of 4 bytes: rows of such a length
    // are read straight into it.
    if (rowBytes % 4 == 0) {
        QImage result(columns, rows, format);
        if (result.isNull()) {
            return result;
        }
        return element->getPartialValue(result.bits(), 0, frameBytes).good() ? result : QImage();
    }
    // Otherwise the image pads its rows: the frame is read whole and copied
    // row by row.
    std::vector<Uint8> frame(frameBytes);
    if (element->getPartialValue(frame.data(), 0, frameBytes).bad()) {
        return {};
    }
    return copied(frame.data(), columns, rows, format);
}

// Frame 1 of native 8-bit RGB with interleaved samples, which is already
// what the display holds: DicomImage would split it into planes and join
// them again unchanged. A null image for any other pixel data.
QImage nativeRgb(DcmDataset& dataset) {
    Uint16 planar = 0;
    if (dataset.findAndGetUint16(DCM_PlanarConfiguration, planar).bad() || planar != 0) {
        return {};
    }
    return native8Bit(dataset, "RGB", 3, QImage::Format_RGB888);
}

// Whether the attribute's first value is exactly value.
bool holds(DcmDataset& dataset, const DcmTagKey& key, Float64 value) {
    Float64 given = 0;
    return dataset.findAndGetFloat64(key, given).good() && given == value;
}

bool holds(DcmDataset& dataset, const DcmTagKey& key, const char* value) {
    OFString given;
    return dataset.findAndGetOFString(key, given).good() && given == value;
}

template <typename T> bool absentOr(DcmDataset& dataset, const DcmTagKey& key, T value) {
    return !dataset.tagExists(key) || holds(dataset, key, value);
}

// Whether the data set holds overlay attributes, which DicomImage draws
// into its output.
bool hasOverlay(DcmDataset& dataset) {
    for (DcmObject* element = dataset.nextInContainer(nullptr); element != nullptr;
         element = dataset.nextInContainer(element)) {
        const Uint16 group = element->getGTag();
        if (group >= 0x6000 && group <= 0x60FF) {
            return true;
        }
    }
    return false;
}

// Frame 1 of native 8-bit MONOCHROME2 pixels where DicomImage, windowed as
// renderChecked does, would output every stored value unchanged; a null image
// for any other pixel data. Without a modality transformation, the linear
// window with centre 128 and width 256 maps 0..255 onto itself; it is the
// file's window or, where the file gives none, the min-max window of a frame
// holding both 0 and 255.
QImage nativeGrey(DcmDataset& dataset) {
    const bool windowGiven =
        dataset.tagExists(DCM_WindowCenter) || dataset.tagExists(DCM_WindowWidth);
    if (dataset.tagExists(DCM_ModalityLUTSequence) || !absentOr(dataset, DCM_RescaleSlope, 1.0) ||
        !absentOr(dataset, DCM_RescaleIntercept, 0.0) || dataset.tagExists(DCM_VOILUTSequence) ||
        !absentOr(dataset, DCM_VOILUTFunction, "LINEAR") ||
        !absentOr(dataset, DCM_PresentationLUTShape, "IDENTITY") ||
        (windowGiven &&
         !(holds(dataset, DCM_WindowCenter, 128.0) && holds(dataset, DCM_WindowWidth, 256.0))) ||
        hasOverlay(dataset)) {
        return {};
    }
    QImage image = native8Bit(dataset, "MONOCHROME2", 1, QImage::Format_Grayscale8);
    if (image.isNull() || windowGiven) {
        return image;
    }
    bool black = false;
    bool white = false;
    for (int y = 0; y < image.height(); ++y) {
        const auto [low, high] =
            std::minmax_element(image.constScanLine(y), image.constScanLine(y) + image.width());
        black = black || *low == 0;
        white = white || *high == 255;
    }
    return black && white ? image : QImage();
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
    if (QImage grey = nativeGrey(dataset); !grey.isNull()) {
        return grey;
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
