#include "core/Error.h"

namespace core {

Error::Error(const QString& message) : std::runtime_error(message.toStdString()) {}

QString Error::message() const {
    return QString::fromUtf8(what());
}

FileSystemError::FileSystemError(const QString& operation, const QString& path,
                                 const QString& cause)
    : Error(QStringLiteral("%1 nicht möglich: %2\n%3").arg(operation, path, cause)),
      m_operation(operation), m_path(path), m_cause(cause) {}

} // namespace core
