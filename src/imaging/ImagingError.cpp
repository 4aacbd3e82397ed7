#include "imaging/ImagingError.h"

namespace imaging {

ImagingError::ImagingError(const QString& message) : core::Error(message) {}

} // namespace imaging
