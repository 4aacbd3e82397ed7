#pragma once

#include <QString>

#include <stdexcept>

namespace core {

// The base of the program's own errors: what() is a German sentence (UTF-8)
// for the operator, message() the same text as a QString.
class Error : public std::runtime_error {
public:
    explicit Error(const QString& message);
    QString message() const;
};

// A failed file-system operation; the message names the operation, the path
// and the cause.
class FileSystemError : public Error {
public:
    FileSystemError(const QString& operation, const QString& path, const QString& cause);
    QString operation() const { return m_operation; }
    QString path() const { return m_path; }
    QString cause() const { return m_cause; }

private:
    QString m_operation;
    QString m_path;
    QString m_cause;
};

} // namespace core
