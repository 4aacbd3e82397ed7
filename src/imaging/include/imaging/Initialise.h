#pragma once

namespace imaging {

// Registers the decoders, silences the toolkit's console logging and, with
// glibc, keeps image-sized buffers on the heap between images. Safe to call
// more than once; every entry point calls it.
void initialise();

} // namespace imaging
