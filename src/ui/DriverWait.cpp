#include "ui/DriverWait.h"

#include <string>

#include "manager/PendingCall.h"

namespace {

std::string IndicatorText(std::chrono::milliseconds elapsed,
                          std::chrono::milliseconds nameCallAfter,
                          std::chrono::milliseconds nameStartAfter) {
    const char* pendingCall = elapsed >= nameCallAfter ? PendingModuleCall() : nullptr;
    const ModuleStart start = StartingModule();
    if (start.name.empty() || std::chrono::steady_clock::now() - start.since < nameStartAfter) {
        return pendingCall != nullptr ? "In attesa del driver (" + std::string(pendingCall) + ")..."
                                      : std::string();
    }
    // A module that takes long to start: which one, and later also the call it is in.
    if (pendingCall == nullptr) {
        return "In attesa dell'avvio del driver '" + start.name + "'...";
    }
    return "In attesa del driver '" + start.name + "' (" + pendingCall + ")...";
}

}  // namespace

BusyWait DriverWait(std::chrono::milliseconds nameCallAfter,
                    std::chrono::milliseconds nameStartAfter) {
    return {[nameCallAfter, nameStartAfter](std::chrono::milliseconds elapsed) {
                return IndicatorText(elapsed, nameCallAfter, nameStartAfter);
            },
            [] {
                const char* call = PendingModuleCall();
                return std::string(call != nullptr ? call : "no module call");
            }};
}
