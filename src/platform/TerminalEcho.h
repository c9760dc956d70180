#pragma once

// The echo of the console input (standard input), off while a secret is typed on it. The
// settings it replaced are kept where a thread ending the program finds them
// (RestoreTerminalEcho), so that a program ended at its prompt never leaves the terminal
// without echo. Where the system has job control, a stop at the prompt (Ctrl-Z, or the
// terminal read from the background) gives the echo back while the program is stopped and
// turns it off again when it continues. One at a time.
class EchoOff {
public:
    // Turns the echo of standard input off when it is a terminal; otherwise does nothing.
    EchoOff();
    ~EchoOff();
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

    bool Active() const { return m_active; }

private:
    bool m_active = false;
};

// Puts back the settings that the EchoOff in force replaced; false, doing nothing, when none
// is in force. For the thread that ends the program while another may be at the prompt.
bool RestoreTerminalEcho();
