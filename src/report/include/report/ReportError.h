#pragma once

#include "core/Error.h"

namespace report {

// A report file that could not be written; what() is a German sentence
// naming the file and the cause. An older file of that name stays whole.
class ReportError : public core::Error {
public:
    explicit ReportError(const QString& message);
};

} // namespace report
