#pragma once

#include <QString>

#include <stdexcept>

namespace imaging {

// Every failing imaging operation throws this; what() is a German message
// (UTF-8) naming the file and the cause.
class ImagingError : public std::runtime_error {
public:
    explicit ImagingError(const QString& message);
    QString message() const;
};

} // namespace imaging
