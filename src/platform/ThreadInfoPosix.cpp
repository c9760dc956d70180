#include "platform/ThreadInfo.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>

// gettid() is a system call; a thread's id never changes.
uint32_t CurrentThreadId() {
    thread_local const auto id = static_cast<uint32_t>(gettid());
    return id;
}

void LowerCurrentThreadPriority() {
    const pid_t thread = gettid();
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(thread));
    if (errno == 0) {
        setpriority(PRIO_PROCESS, static_cast<id_t>(thread), nice + 1);
    }
}
