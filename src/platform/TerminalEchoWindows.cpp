#include "platform/TerminalEcho.h"

#include <windows.h>

#include <atomic>

// The console's input mode stands for the terminal's settings. Windows has no job control, so
// there is no stop at the prompt to give the echo back for.

namespace {

// Written before g_echoOff is set, read by the thread ending the program only while it is.
HANDLE g_input = nullptr;
DWORD g_saved = 0;
std::atomic<bool> g_echoOff{false};

}  // namespace

EchoOff::EchoOff() {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    // GetConsoleMode fails for anything but a console: a file or a pipe has no echo.
    DWORD mode = 0;
    if (input == nullptr || input == INVALID_HANDLE_VALUE || GetConsoleMode(input, &mode) == 0) {
        return;
    }
    g_input = input;
    g_saved = mode;
    // Set before the echo goes off: a Ctrl-C in between then finds the mode to restore.
    g_echoOff = true;
    // What was typed before the prompt, echoed, is not taken for the secret.
    FlushConsoleInputBuffer(input);
    SetConsoleMode(input, mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    m_active = true;
}

EchoOff::~EchoOff() {
    if (m_active) {
        FlushConsoleInputBuffer(g_input);
        SetConsoleMode(g_input, g_saved);
        g_echoOff = false;
    }
}

bool RestoreTerminalEcho() {
    if (!g_echoOff) {
        return false;
    }
    SetConsoleMode(g_input, g_saved);
    return true;
}
