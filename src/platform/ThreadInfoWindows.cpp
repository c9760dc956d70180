#include "platform/ThreadInfo.h"

#include <windows.h>

uint32_t CurrentThreadId() {
    return GetCurrentThreadId();
}

// One step below the process's base priority, whatever the thread's priority was.
void LowerCurrentThreadPriority() {
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
}
