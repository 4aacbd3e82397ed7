#include "imaging/ImagingError.h"

namespace imaging {

ImagingError::ImagingError(const QString& message) : std::runtime_error(message.toStdString()) {}

QString ImagingError::message() const {
    return QString::fromUtf8(what());
}

} // namespace imaging
