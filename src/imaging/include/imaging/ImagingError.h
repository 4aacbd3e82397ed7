#pragma once

#include "core/Error.h"

#include <QString>

namespace imaging {

// Every failing imaging operation throws this; what() is a German message
// (UTF-8) naming the file and the cause.
class ImagingError : public core::Error {
public:
    explicit ImagingError(const QString& message);
};

} // namespace imaging
