#pragma once

namespace imaging {

// Registers the decoders and silences the toolkit's console logging. Safe to
// call more than once; every entry point calls it.
void initialise();

} // namespace imaging
