#include "TestSupport.h"

#include <QDir>
#include <QTest>

#include <algorithm>

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

void writeFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(content), content.size());
}

int largestDifference(const QImage& image, const std::function<QRgb(int, int)>& expected) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    int largest = 0;
    for (int y = 0; y < rgb.height(); ++y) {
        for (int x = 0; x < rgb.width(); ++x) {
            const QRgb got = rgb.pixel(x, y), want = expected(x, y);
            largest = std::max({largest, std::abs(qRed(got) - qRed(want)),
                                std::abs(qGreen(got) - qGreen(want)),
                                std::abs(qBlue(got) - qBlue(want))});
        }
    }
    return largest;
}
