#pragma once

#include "global/modGlobal.h"

#include <QImage>
#include <QList>
#include <QString>
#include <QTemporaryDir>

#include <functional>
#include <map>

// Answers message boxes in tests and keeps what they said.
class MessageRecorder {
public:
    explicit MessageRecorder(modGlobal::Answer answer = modGlobal::Answer::Ok);
    ~MessageRecorder();
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;

    void setAnswer(modGlobal::Answer answer) { m_answer = answer; }
    // Messages with these buttons get answer instead of the general one.
    void setAnswerFor(modGlobal::Buttons buttons, modGlobal::Answer answer) {
        m_answers[buttons] = answer;
    }
    const QList<modGlobal::Message>& messages() const { return m_messages; }
    int count() const { return static_cast<int>(m_messages.size()); }
    const modGlobal::Message& last() const { return m_messages.last(); }
    void clear() { m_messages.clear(); }

private:
    modGlobal::Answer m_answer;
    std::map<modGlobal::Buttons, modGlobal::Answer> m_answers;
    QList<modGlobal::Message> m_messages;
    modGlobal::MessageHandler m_previous;
};

// A temporary workspace root that the program uses for the test's duration.
class TestWorkspace {
public:
    TestWorkspace();
    QString root() const { return m_dir.path(); }
    // root + relative ("/Messungen/Messung" ...)
    QString path(const QString& relative) const { return root() + relative; }
    // Creates the folder and its parents.
    void mkpath(const QString& relative) const;
    QStringList fileNames(const QString& relative) const;

private:
    QTemporaryDir m_dir;
};

// Creates or replaces the file with content; fails the test when it cannot.
void writeFile(const QString& path, const QByteArray& content = {});
// The file's bytes; empty when it cannot be read.
QByteArray readFile(const QString& path);

// The helpers below change process-wide POSIX limits and Linux capabilities;
// they exist only there, and the tests that use them skip elsewhere.
#if defined(Q_OS_UNIX)
// While it lives, no file the process writes grows beyond bytes, so a write
// fails part way even for root; SIGXFSZ is ignored so the write returns an
// error instead of ending the test.
class FileSizeLimit {
public:
    explicit FileSizeLimit(qint64 bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    quint64 m_previous = 0;
    quint64 m_maximum = 0;
};
#endif

#if defined(Q_OS_LINUX)
// While it lives, the calling thread obeys file permission bits even as
// root: the capabilities that override them leave its effective set (they
// stay permitted and come back at the end). Files touched on other threads
// are not affected. access(), and with it QFileInfo::isWritable(), still
// answers as for root: the kernel checks it against the permitted set.
class PermissionBitsEnforced {
public:
    PermissionBitsEnforced();
    ~PermissionBitsEnforced();
    PermissionBitsEnforced(const PermissionBitsEnforced&) = delete;
    PermissionBitsEnforced& operator=(const PermissionBitsEnforced&) = delete;

private:
    quint32 m_effective[2] = {};
};
#endif

// The largest difference of a colour channel between image and expected(x, y).
int largestDifference(const QImage& image, const std::function<QRgb(int, int)>& expected);
