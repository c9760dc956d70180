#include "check/TerminalEcho.h"

#include <termios.h>
#include <unistd.h>

#include <atomic>

namespace {

// Written before g_echoOff is set, read by the signal thread only while it is.
int g_terminal = -1;
termios g_saved{};
std::atomic<bool> g_echoOff{false};

}  // namespace

EchoOff::EchoOff(int fd) {
    if (isatty(fd) == 0 || tcgetattr(fd, &g_saved) != 0) {
        return;
    }
    g_terminal = fd;
    termios quiet = g_saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    // Set before the echo goes off: a signal in between then finds the settings to restore.
    g_echoOff = true;
    tcsetattr(fd, TCSAFLUSH, &quiet);
    m_active = true;
}

EchoOff::~EchoOff() {
    if (m_active) {
        tcsetattr(g_terminal, TCSAFLUSH, &g_saved);
        g_echoOff = false;
    }
}

void RestoreTerminalEcho() {
    if (g_echoOff) {
        tcsetattr(g_terminal, TCSANOW, &g_saved);
        ssize_t ignored = write(STDERR_FILENO, "\n", 1);
        (void)ignored;
    }
}
