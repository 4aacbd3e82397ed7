#include "TestSupport.h"

#include <QDir>

#include <unistd.h>

MessageRecorder::MessageRecorder(modGlobal::Answer answer) : m_answer(answer) {
    m_previous = modGlobal::setMessageHandler([this](const modGlobal::Message& m) {
        m_messages.append(m);
        return m_answer;
    });
}

MessageRecorder::~MessageRecorder() {
    modGlobal::setMessageHandler(std::move(m_previous));
}

TestWorkspace::TestWorkspace() {
    modGlobal::setWorkspaceRoot(m_dir.path());
    modGlobal::setStartLine(QStringLiteral("0"));
}

void TestWorkspace::mkpath(const QString& relative) const {
    QDir().mkpath(path(relative));
}

QStringList TestWorkspace::fileNames(const QString& relative) const {
    return QDir(path(relative)).entryList(QDir::Files, QDir::Name);
}

bool ignoresFilePermissions() {
    return ::geteuid() == 0;
}
