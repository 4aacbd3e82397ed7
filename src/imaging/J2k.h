#pragma once

// One JPEG 2000 code stream decoded with OpenJPEG, for the data set's frames.

#include "ImageImpl.h"

#include <cstddef>

namespace imaging::detail {

// What the data set says a frame holds.
struct Layout {
    Uint16 rows = 0, columns = 0, samples = 0, allocated = 0, stored = 0;

    std::size_t frameValues() const { return std::size_t{rows} * columns * samples; }
};

// Decodes one code stream of size bytes into the frameValues() interleaved
// samples at out; false if it does not decode or does not match the image's
// attributes. T is Uint8 for 8 bits allocated, Uint16 for 16.
template <typename T>
bool decodeFrame(const Uint8* stream, std::size_t size, const Layout& layout, T* out);

} // namespace imaging::detail
