#include "platform/SystemText.h"

#include <winscard.h>

#include <mutex>

namespace {

struct CodeText {
    uint32_t code;
    const char* text;
};

// What Windows' FormatMessage says for the loader's codes, without its "%1" inserts.
constexpr CodeText kWindowsTexts[] = {
    {kErrorAccessDenied, "Access is denied."},
    {kErrorModuleNotFound, "The specified module could not be found."},
    {kErrorProcNotFound, "The specified procedure could not be found."},
    {kErrorBadExeFormat, "The module is not a valid application for this system."},
    {kErrorDllInitFailed, "A dynamic link library (DLL) initialization routine failed."},
};

bool IsPcscCode(uint32_t code) {
    return code == 0 || (code & 0xFFFF0000u) == 0x80100000u;
}

}  // namespace

std::string SystemMessageText(uint32_t code) {
    for (const CodeText& entry : kWindowsTexts) {
        if (entry.code == code) {
            return entry.text;
        }
    }
    if (!IsPcscCode(code)) {
        return {};
    }
    // pcsc_stringify_error writes into a buffer of its own: copy it under a lock.
    static std::mutex lock;
    std::string text;
    {
        std::lock_guard<std::mutex> guard(lock);
        text = pcsc_stringify_error(static_cast<LONG>(code));
    }
    if (text == "Unknown error" || text.rfind("Unknown error:", 0) == 0) {
        return {};
    }
    return text;
}
