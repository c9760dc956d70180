#include "platform/ProcessEnd.h"

#include <windows.h>

// TerminateProcess rather than ExitProcess: ExitProcess runs the DLLs' detach routines, where
// the C runtime's atexit handlers and static destructors run, and it waits for the loader's
// lock, which a thread stuck in a module's initialisation may hold.
void EndProcessNow(int status) {
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
    // TerminateProcess on one's own process does not return; should it ever fail, the end
    // still comes, if less abruptly.
    ExitProcess(static_cast<UINT>(status));
}
