#include "check/SignalExit.h"

#include <cstdio>
#include <cstdlib>

#include "log/Log.h"
#include "platform/EndSignals.h"
#include "platform/TerminalEcho.h"

namespace {

[[noreturn]] void EndWith(int status) {
    LogStop();
    if (RestoreTerminalEcho()) {
        // The line of the PIN prompt, which no echoed line end closed.
        std::fputs("\n", stderr);
    }
    // At once, as from the signal itself: no exit handlers, no destructors of static objects
    // that the main thread may be using.
    std::_Exit(status);
}

}  // namespace

void EndOnSignals() {
    HandleEndSignals(EndWith);
}
