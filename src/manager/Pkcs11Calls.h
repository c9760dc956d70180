#pragma once

// Helpers of the manager's operations that call a PKCS#11 module.

#include <cstdint>
#include <string>

#include "manager/PendingCall.h"
#include "platform/ModuleLoader.h"
#include "platform/Pkcs11.h"

class IMessageList;

// Calls into a module, marked as the call in progress under `name` (a literal) while it
// runs. A module whose list lacks the entry answers as a module without that function would.
template <typename F, typename... A>
CK_RV Call(const char* name, F function, A... arguments) {
    PendingCallScope pending(name);
    return function != nullptr ? function(arguments...) : CKR_FUNCTION_NOT_SUPPORTED;
}

// The entry `function` of the function list `list`, called under its own name.
#define MODULE_CALL(list, function, ...) Call(#function, (list)->function, __VA_ARGS__)

// LoadModule, marked as the call in progress: the module's own initialisers run in it. A
// failure's reason from the dynamic linker is logged as a record of its own.
ModuleHandle LoadDriverModule(const std::string& name);
// The module's entry point `name`, or null after logging the linker's reason.
void* DriverEntryPoint(ModuleHandle module, const char* name);

// The manager's 32-bit code for `rv`, the answer of `function`. A CK_RV that does not fit in
// 32 bits is none the standard defines: it becomes CKR_GENERAL_ERROR, after one log record
// under `source` that gives it in full.
uint32_t ResultCode(CK_RV rv, const char* function, const char* source);

// A failed call: the log record "<function> error: 0x%X." under `source` and, with a list,
// the status line that names the module, the function and the code. Returns the code
// (ResultCode of `rv`).
uint32_t ReportCallFailure(IMessageList* list, const char* source, const std::string& driverName,
                           const char* function, CK_RV rv);
