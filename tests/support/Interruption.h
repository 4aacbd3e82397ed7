#pragma once

#include <QString>

#include <functional>

// Linux only: it forks and interposes the C library's file calls.
#if defined(Q_OS_LINUX)
// Runs a real operation in a forked child process that is killed by SIGKILL
// at a chosen step, so a test can see what an interrupted operation leaves.
namespace interruption {

enum class KillAt {
    Nowhere, // the child runs to its end
    Rename,  // just before it renames a file whose source path contains part
    Remove,  // just before it deletes a file whose path contains part (remove, unlink)
};

// How the child ended: "killed" (SIGKILL), "signal N" or "exit N". The child
// exits 0 after body unless body throws (then 1).
QString runInChild(const std::function<void()>& body, KillAt at = KillAt::Nowhere,
                   const QString& part = {});

} // namespace interruption
#endif
