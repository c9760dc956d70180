#pragma once

// The terminal's echo, off while the PIN is typed. The settings it replaced are kept where
// the signal thread finds them (RestoreTerminalEcho), so that a signal that ends the program
// at the PIN prompt never leaves the terminal without echo. A stop at the prompt (Ctrl-Z, or
// the terminal read from the background) gives the echo back while the program is stopped and
// turns it off again when it continues. One at a time.
class EchoOff {
public:
    // Turns the echo of `fd` off when it is a terminal; otherwise does nothing.
    explicit EchoOff(int fd);
    ~EchoOff();
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

    bool Active() const { return m_active; }

private:
    bool m_active = false;
};

// Puts back the settings that the EchoOff in force replaced, and ends the prompt's line;
// nothing when none is in force. For the thread that ends the program on a signal.
void RestoreTerminalEcho();
