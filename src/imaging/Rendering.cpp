// Frame 1 of an image rendered for display.

#include "ImageImpl.h"

#include <dcmtk/dcmdata/dcdeftag.h>
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
    const int width = static_cast<int>(image.getWidth());
    const int height = static_cast<int>(image.getHeight());
    const int rowBytes = grey ? width : width * 3;
    QImage result(width, height, grey ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
    if (result.isNull()) {
        *cause = statusText(EIS_MemoryFailure);
        return {};
    }
    for (int y = 0; y < height; ++y) {
        std::copy_n(pixels + static_cast<qsizetype>(y) * rowBytes, rowBytes, result.scanLine(y));
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
