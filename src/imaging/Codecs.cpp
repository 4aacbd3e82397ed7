#include "imaging/Initialise.h"

#include <dcmtk/config/osconfig.h>

#include <dcmtk/dcmdata/dcrledrg.h>
#include <dcmtk/dcmjpeg/djdecode.h>
#include <dcmtk/dcmjpls/djdecode.h>
#include <dcmtk/oflog/oflog.h>

#include <mutex>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace imaging {

void initialise() {
    static std::once_flag once;
    std::call_once(once, [] {
        // The boundary reports failures itself; DCMTK's console warnings (one
        // per header-only read, for instance) would only be noise.
        OFLog::configure(OFLogger::FATAL_LOG_LEVEL);
        DJDecoderRegistration::registerCodecs();
        DJLSDecoderRegistration::registerCodecs();
        DcmRLEDecoderRegistration::registerCodecs();
#ifdef __GLIBC__
        // Showing an image takes several buffers of its size at once (the
        // file's pixels, the toolkit's stages, the picture). glibc would give
        // them back to the system after every image and fault them in again
        // for the next, which costs about as much as the decoding; below
        // 32 MB they stay on the heap, and up to 64 MB of it stays mapped.
        mallopt(M_MMAP_THRESHOLD, 32 << 20);
        mallopt(M_TRIM_THRESHOLD, 64 << 20);
#endif
    });
}

} // namespace imaging
