#include "check/PinInput.h"

#include <cstdio>

#include "platform/StandardInput.h"
#include "platform/TerminalEcho.h"

PinLine ReadPin(SecretString& pin) {
    EchoOff echoOff;
    if (echoOff.Active()) {
        std::fprintf(stderr, "PIN: ");
    }
    bool any = false;
    char byte = 0;
    while (ReadStandardInputByte(byte)) {
        any = true;
        if (byte == '\n') {
            break;
        }
        // A line longer than any PIN is kept one byte over the limit, which the test refuses.
        pin.Append(byte);
    }
    byte = 0;
    pin.DropLast('\r');
    if (echoOff.Active()) {
        std::fprintf(stderr, "\n");
    }
    if (!any) {
        return PinLine::Missing;
    }
    return pin.empty() ? PinLine::Empty : PinLine::Typed;
}
