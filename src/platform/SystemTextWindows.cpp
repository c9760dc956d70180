#include "platform/SystemText.h"

#include "platform/WindowsErrorText.h"

namespace {

bool IsLoaderCode(uint32_t code) {
    return code == kErrorAccessDenied || code == kErrorModuleNotFound ||
           code == kErrorProcNotFound || code == kErrorBadExeFormat || code == kErrorDllInitFailed;
}

bool IsPcscCode(uint32_t code) {
    return code == 0 || (code & 0xFFFF0000u) == 0x80100000u;
}

}  // namespace

// Only the codes the header names: others are PKCS#11 results, whose values Windows reads as
// unrelated system errors (CKR_PIN_INCORRECT is ERROR_BAD_ARGUMENTS).
std::string SystemMessageText(uint32_t code) {
    if (!IsLoaderCode(code) && !IsPcscCode(code)) {
        return {};
    }
    return WindowsErrorText(code);
}
