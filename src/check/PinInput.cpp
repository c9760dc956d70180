#include "check/PinInput.h"

#include <cstdio>

#include "platform/StandardInput.h"
#include "platform/TerminalEcho.h"

namespace {

// Longer lines are kept to this length, which the test refuses as too long a PIN.
constexpr std::size_t kPinReadMax = 256;

}  // namespace

PinLine ReadPin(std::string& pin) {
    pin.reserve(kPinReadMax);
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
        if (pin.size() < kPinReadMax) {
            pin.push_back(byte);
        }
    }
    byte = 0;
    if (!pin.empty() && pin.back() == '\r') {
        pin.back() = '\0';
        pin.pop_back();
    }
    if (echoOff.Active()) {
        std::fprintf(stderr, "\n");
    }
    if (!any) {
        return PinLine::Missing;
    }
    return pin.empty() ? PinLine::Empty : PinLine::Typed;
}
