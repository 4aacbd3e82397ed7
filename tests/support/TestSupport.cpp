#include "TestSupport.h"

#include <QDir>
#include <QTest>

#include <algorithm>

#if defined(Q_OS_UNIX)
#include <csignal>

#include <sys/resource.h>
#endif
#if defined(Q_OS_LINUX)
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

MessageRecorder::MessageRecorder(modGlobal::Answer answer) : m_answer(answer) {
    m_previous = modGlobal::setMessageHandler([this](const modGlobal::Message& m) {
        m_messages.append(m);
        const auto special = m_answers.find(m.buttons);
        return special != m_answers.end() ? special->second : m_answer;
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

void writeFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(content), content.size());
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

#if defined(Q_OS_UNIX)
FileSizeLimit::FileSizeLimit(qint64 bytes) {
    rlimit current{};
    ::getrlimit(RLIMIT_FSIZE, &current);
    m_previous = current.rlim_cur;
    m_maximum = current.rlim_max;
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limited{static_cast<rlim_t>(bytes), current.rlim_max};
    if (::setrlimit(RLIMIT_FSIZE, &limited) != 0)
        QTest::qFail("setrlimit(RLIMIT_FSIZE) refused", __FILE__, __LINE__);
}

FileSizeLimit::~FileSizeLimit() {
    const rlimit previous{static_cast<rlim_t>(m_previous), static_cast<rlim_t>(m_maximum)};
    ::setrlimit(RLIMIT_FSIZE, &previous);
}
#endif

#if defined(Q_OS_LINUX)
namespace {

// The capability sets of the calling thread, without libcap.
bool capabilities(__user_cap_data_struct (&data)[2], bool set) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return ::syscall(set ? SYS_capset : SYS_capget, &header, data) == 0;
}

constexpr quint32 kPermissionOverrides =
    (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER);

} // namespace

PermissionBitsEnforced::PermissionBitsEnforced() {
    __user_cap_data_struct data[2] = {};
    if (!capabilities(data, false))
        QTest::qFail("capget refused", __FILE__, __LINE__);
    m_effective[0] = data[0].effective;
    m_effective[1] = data[1].effective;
    data[0].effective &= ~kPermissionOverrides;
    if (!capabilities(data, true))
        QTest::qFail("capset refused", __FILE__, __LINE__);
}

PermissionBitsEnforced::~PermissionBitsEnforced() {
    __user_cap_data_struct data[2] = {};
    capabilities(data, false);
    data[0].effective = m_effective[0];
    data[1].effective = m_effective[1];
    capabilities(data, true);
}
#endif

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
