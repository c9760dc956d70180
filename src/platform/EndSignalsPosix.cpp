#include "platform/EndSignals.h"

#include <pthread.h>
#include <signal.h>

#include <thread>

namespace {

sigset_t EndingSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    for (int number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        sigaddset(&signals, number);
    }
    return signals;
}

[[noreturn]] void CallOnEachSignal(sigset_t signals, EndHandler onEnd) {
    for (;;) {
        int number = 0;
        if (sigwait(&signals, &number) == 0) {
            onEnd(128 + number);
        }
    }
}

}  // namespace

void HandleEndSignals(EndHandler onEnd) {
    const sigset_t signals = EndingSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread(CallOnEachSignal, signals, onEnd).detach();
}
