#pragma once

// The pixel-data check's parts shared by its codecs.

#include "ImageImpl.h"

#include <vector>

namespace imaging::detail {

struct Declared {
    Uint16 rows = 0, columns = 0, samples = 0, allocated = 0;
    Sint32 frames = 1;
    qint64 frameBytes() const { return (qint64{rows} * columns * samples * allocated + 7) / 8; }
};

// One fragment's bytes.
struct Fragment {
    const Uint8* data = nullptr;
    Uint32 length = 0;
};

// Why the RLE frames cannot be decoded safely, or empty: the fragments must
// divide into the frames and each frame must start with a sound RLE header.
QString rleFault(const std::vector<Fragment>& fragments, const Fragment& offsetTable,
                 const Declared& declared);

// Why the JPEG or JPEG-LS code streams cannot be decoded safely, or empty: no
// stream may decode to more than frameBytes nor keep the decoder's walk going.
QString jpegFault(const std::vector<Fragment>& fragments, bool jpegLs, qint64 frameBytes);

} // namespace imaging::detail
