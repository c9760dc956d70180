#include "platform/TerminalEcho.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace {

// Written before g_echoOff is set, read by the thread ending the program and the stop handler
// only while it is.
termios g_saved{};
termios g_quiet{};
std::atomic<bool> g_echoOff{false};

constexpr int kStopSignals[] = {SIGTSTP, SIGTTIN, SIGTTOU};
struct sigaction g_previous[3];

// Ctrl-Z (or a read or write from the background) while the echo is off: the shell gets its
// terminal back with the echo on, and the echo goes off again once the program continues.
// Only async-signal-safe calls. The other stop signals are blocked meanwhile, so that setting
// the terminal from the background is allowed rather than stopped.
void StopWithTheEchoBack(int) {
    const int savedErrno = errno;
    if (g_echoOff) {
        tcsetattr(STDIN_FILENO, TCSANOW, &g_saved);
    }
    // Stops the whole process at once, whichever thread runs this; returns once continued.
    kill(getpid(), SIGSTOP);
    if (g_echoOff) {
        tcsetattr(STDIN_FILENO, TCSANOW, &g_quiet);
    }
    errno = savedErrno;
}

void HandleStopSignals() {
    struct sigaction action {};
    action.sa_handler = StopWithTheEchoBack;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int number : kStopSignals) {
        sigaddset(&action.sa_mask, number);
    }
    for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
        sigaction(kStopSignals[i], &action, &g_previous[i]);
    }
}

void RestoreStopSignals() {
    for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
        sigaction(kStopSignals[i], &g_previous[i], nullptr);
    }
}

}  // namespace

EchoOff::EchoOff() {
    if (isatty(STDIN_FILENO) == 0 || tcgetattr(STDIN_FILENO, &g_saved) != 0) {
        return;
    }
    g_quiet = g_saved;
    g_quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    // Set before the echo goes off: a signal in between then finds the settings to restore.
    g_echoOff = true;
    HandleStopSignals();
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_quiet);
    m_active = true;
}

EchoOff::~EchoOff() {
    if (m_active) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_saved);
        g_echoOff = false;
        RestoreStopSignals();
    }
}

bool RestoreTerminalEcho() {
    if (!g_echoOff) {
        return false;
    }
    tcsetattr(STDIN_FILENO, TCSANOW, &g_saved);
    return true;
}
