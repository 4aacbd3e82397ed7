#pragma once

// One JPEG 2000 code stream decoded with OpenJPEG, for the data set's frames.

#include "ImageImpl.h"

#include <vector>

namespace imaging::detail {

// What the data set says a frame holds.
struct Layout {
    Uint16 rows = 0, columns = 0, samples = 0, allocated = 0, stored = 0;
};

// Decodes one code stream into interleaved samples appended to out; false if
// it does not decode or does not match the image's attributes.
bool decodeFrame(const std::vector<Uint8>& stream, const Layout& layout, std::vector<Uint16>& out);

} // namespace imaging::detail
