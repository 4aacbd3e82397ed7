#include "Interruption.h"

#include <QByteArray>
#include <QFile>

#include <csignal>
#include <cstring>
#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

interruption::KillAt g_at = interruption::KillAt::Nowhere;
QByteArray g_part;

void killHereIf(interruption::KillAt at, const char* path) {
    if (g_at == at && path && std::strstr(path, g_part.constData()))
        ::raise(SIGKILL);
}

template <class Function> Function next(const char* name) {
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

} // namespace

// The test executable's own rename(), remove() and unlink() come before the C
// library's, also for calls made inside Qt and the C++ library; they kill the
// armed child at its chosen step and otherwise pass the call on.
extern "C" int rename(const char* from, const char* to) {
    killHereIf(interruption::KillAt::Rename, from);
    static const auto real = next<int (*)(const char*, const char*)>("rename");
    return real(from, to);
}

extern "C" int remove(const char* path) {
    killHereIf(interruption::KillAt::Remove, path);
    static const auto real = next<int (*)(const char*)>("remove");
    return real(path);
}

extern "C" int unlink(const char* path) {
    killHereIf(interruption::KillAt::Remove, path);
    static const auto real = next<int (*)(const char*)>("unlink");
    return real(path);
}

namespace interruption {

QString runInChild(const std::function<void()>& body, KillAt at, const QString& part) {
    const pid_t child = ::fork();
    if (child == 0) {
        g_at = at;
        g_part = QFile::encodeName(part);
        int code = 0;
        try {
            body();
        } catch (...) {
            code = 1;
        }
        // No destructors or exit handlers: they belong to the parent's state.
        ::_exit(code);
    }
    if (child < 0)
        return QStringLiteral("fork failed");
    int status = 0;
    if (::waitpid(child, &status, 0) != child)
        return QStringLiteral("wait failed");
    if (WIFSIGNALED(status))
        return WTERMSIG(status) == SIGKILL ? QStringLiteral("killed")
                                           : QStringLiteral("signal %1").arg(WTERMSIG(status));
    return QStringLiteral("exit %1").arg(WEXITSTATUS(status));
}

} // namespace interruption
