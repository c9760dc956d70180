#include "platform/ProgramFiles.h"

#include <windows.h>

#include <vector>

namespace {

// The full path of the running program, or an empty text when the system cannot give it.
std::string ProgramPath() {
    std::vector<char> path(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return {};
        }
        // A path that fills the buffer may have been cut: try again with a larger one.
        if (length < path.size()) {
            return std::string(path.data(), length);
        }
        if (path.size() >= 32768) {
            return {};
        }
        path.resize(path.size() * 2);
    }
}

}  // namespace

std::string SystemAtrListPath() {
    const std::string program = ProgramPath();
    const std::string::size_type separator = program.find_last_of("\\/");
    // Without the program's own path, a name alone would be looked up in the current
    // directory, which is not where the list is installed: the list is then missing.
    if (separator == std::string::npos) {
        return {};
    }
    return program.substr(0, separator + 1) + "smartcard_list.txt";
}
