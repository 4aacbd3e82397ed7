#include "imaging/Initialise.h"

#include <dcmtk/config/osconfig.h>

#include <dcmtk/dcmdata/dcrledrg.h>
#include <dcmtk/dcmjpeg/djdecode.h>
#include <dcmtk/dcmjpls/djdecode.h>
#include <dcmtk/oflog/oflog.h>

#include <mutex>

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
    });
}

} // namespace imaging
