// How many millimetres an image pixel measures.

#include "ImageImpl.h"

#include <dcmtk/dcmdata/dcdeftag.h>

#include <algorithm>
#include <cmath>

namespace imaging {

namespace {

// Decimal text of a DS value; tolerates the decimal comma an operator may
// type into the pixel spacing.
double parseDecimal(const OFString& text) {
    bool ok = false;
    const double value = QString::fromLatin1(text.c_str())
                             .trimmed()
                             .replace(QLatin1Char(','), QLatin1Char('.'))
                             .toDouble(&ok);
    return ok && std::isfinite(value) ? value : 0.0;
}

} // namespace

double Image::mmPerPixel(int x, int y1, int y2) const {
    DcmDataset& dataset = d->dataset();
    OFString rowSpacing;
    if (dataset.findAndGetOFString(DCM_PixelSpacing, rowSpacing, 0).good()) {
        const double spacing = parseDecimal(rowSpacing);
        if (spacing > 0.0) {
            return spacing;
        }
    }
    const qint64 top = std::min(y1, y2);
    const qint64 bottom = std::max(y1, y2);
    DcmSequenceOfItems* regions = nullptr;
    if (dataset.findAndGetSequence(DCM_SequenceOfUltrasoundRegions, regions).bad() ||
        regions == nullptr) {
        return 0.0;
    }
    constexpr Uint16 kCentimetres = 3;
    for (unsigned long i = 0; i < regions->card(); ++i) {
        DcmItem* region = regions->getItem(i);
        Uint32 x0 = 0, y0 = 0, x1 = 0, yEnd = 0;
        Uint16 units = 0;
        Float64 deltaY = 0.0;
        if (region->findAndGetUint32(DCM_RegionLocationMinX0, x0).bad() ||
            region->findAndGetUint32(DCM_RegionLocationMinY0, y0).bad() ||
            region->findAndGetUint32(DCM_RegionLocationMaxX1, x1).bad() ||
            region->findAndGetUint32(DCM_RegionLocationMaxY1, yEnd).bad() ||
            region->findAndGetUint16(DCM_PhysicalUnitsYDirection, units).bad() ||
            region->findAndGetFloat64(DCM_PhysicalDeltaY, deltaY).bad()) {
            continue;
        }
        const bool holdsLine = x >= static_cast<qint64>(x0) && x <= static_cast<qint64>(x1) &&
                               top >= static_cast<qint64>(y0) &&
                               bottom <= static_cast<qint64>(yEnd);
        if (holdsLine && units == kCentimetres && std::isfinite(deltaY) && deltaY != 0.0) {
            return std::abs(deltaY) * 10.0;
        }
    }
    return 0.0;
}

} // namespace imaging
