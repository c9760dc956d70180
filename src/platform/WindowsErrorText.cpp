#include "platform/WindowsErrorText.h"

#include <windows.h>

#include <cctype>

namespace {

// "%1 is not a valid Win32 application.": the inserts (%1, %2!s!) stand for what the caller
// named already, such as the file; they go, with the blanks they leave.
std::string WithoutInserts(const std::string& message) {
    std::string text;
    for (std::size_t i = 0; i < message.size(); ++i) {
        if (message[i] == '%' && i + 1 < message.size() &&
            std::isdigit(static_cast<unsigned char>(message[i + 1])) != 0) {
            ++i;
            while (i + 1 < message.size() &&
                   std::isdigit(static_cast<unsigned char>(message[i + 1])) != 0) {
                ++i;
            }
            // An insert may carry its printf form between '!'s ("%1!s!"): it goes too.
            const std::size_t formEnd = i + 1 < message.size() && message[i + 1] == '!'
                                            ? message.find('!', i + 2)
                                            : std::string::npos;
            if (formEnd != std::string::npos) {
                i = formEnd;
            }
            continue;
        }
        if (message[i] == ' ' && (text.empty() || text.back() == ' ')) {
            continue;
        }
        if ((message[i] == '.' || message[i] == ',') && !text.empty() && text.back() == ' ') {
            text.pop_back();
        }
        text += message[i];
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

}  // namespace

std::string WindowsErrorText(uint32_t code) {
    char* buffer = nullptr;
    // The inserts are left for WithoutInserts: the caller has no values for them.
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
    if (length == 0 || buffer == nullptr) {
        return {};
    }
    const std::string message(buffer, length);
    LocalFree(buffer);
    return WithoutInserts(message);
}
