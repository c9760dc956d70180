#include "platform/EndSignals.h"

#include <windows.h>

#include <atomic>
#include <mutex>

// The console's control events stand for the signals. The system runs the control handler on
// a thread it makes for each event, which is the handler's own thread the header promises.

namespace {

// The statuses carry Linux's signal numbers, which Windows lacks, so that a script reads the
// same status on both systems.
constexpr int kInterruptStatus = 128 + 2;   // SIGINT: Ctrl-C
constexpr int kQuitStatus = 128 + 3;        // SIGQUIT: Ctrl-\, which Ctrl-Break stands for
constexpr int kHangUpStatus = 128 + 1;      // SIGHUP: the console closed
constexpr int kTerminateStatus = 128 + 15;  // SIGTERM: the user logging off, the system ending

std::atomic<EndHandler> g_onEnd{nullptr};
// One event at a time, as on Linux, where one thread takes the signals in turn.
std::mutex g_oneAtATime;

int StatusOf(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
            return kInterruptStatus;
        case CTRL_BREAK_EVENT:
            return kQuitStatus;
        case CTRL_CLOSE_EVENT:
            return kHangUpStatus;
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            return kTerminateStatus;
        default:
            return 0;
    }
}

// TRUE keeps the system's default (ending the process at once) from running; after a close,
// logoff or shutdown the system ends the process anyway once this returns.
BOOL WINAPI OnControlEvent(DWORD event) {
    const int status = StatusOf(event);
    const EndHandler onEnd = g_onEnd;
    if (status == 0 || onEnd == nullptr) {
        return FALSE;
    }
    const std::lock_guard lock(g_oneAtATime);
    onEnd(status);
    return TRUE;
}

}  // namespace

void HandleEndSignals(EndHandler onEnd) {
    g_onEnd = onEnd;
    SetConsoleCtrlHandler(OnControlEvent, TRUE);
}
