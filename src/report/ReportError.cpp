#include "report/ReportError.h"

namespace report {

ReportError::ReportError(const QString& message) : core::Error(message) {}

} // namespace report
