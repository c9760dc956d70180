#pragma once

// Helpers of the manager's operations that call a PKCS#11 module.

#include <cstdint>
#include <string>

#include "platform/Pkcs11.h"

class IMessageList;

// A module whose list lacks an entry answers as a module without that function would.
template <typename F, typename... A>
CK_RV Call(F function, A... arguments) {
    return function != nullptr ? function(arguments...) : CKR_FUNCTION_NOT_SUPPORTED;
}

// A failed call: the log record "<function> error: 0x%X." under `source` and, with a list,
// the status line that names the module, the function and the code. Returns the code.
uint32_t ReportCallFailure(IMessageList* list, const char* source, const std::string& driverName,
                           const char* function, CK_RV rv);
