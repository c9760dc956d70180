#include "check/SignalExit.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <thread>

#include "check/TerminalEcho.h"
#include "log/Log.h"

namespace {

sigset_t EndingSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    for (int number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        sigaddset(&signals, number);
    }
    return signals;
}

[[noreturn]] void EndOnFirstSignal(sigset_t signals) {
    int number = 0;
    while (sigwait(&signals, &number) != 0) {
    }
    LogStop();
    RestoreTerminalEcho();
    _exit(128 + number);
}

}  // namespace

void EndOnSignals() {
    const sigset_t signals = EndingSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread(EndOnFirstSignal, signals).detach();
}
