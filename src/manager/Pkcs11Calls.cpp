#include "manager/Pkcs11Calls.h"

#include <limits>

#include "log/Log.h"
#include "manager/StatusTemplates.h"
#include "manager/StatusText.h"

namespace {

// The linker's text may hold '%' (it quotes file names): never a format.
void LogLoaderReason(const char* source) {
    if (!ModuleLastReason().empty()) {
        LOG_MESSAGE(static_cast<int32_t>(ModuleLastError()), 0, source, "%s",
                    ModuleLastReason().c_str());
    }
}

}  // namespace

ModuleHandle LoadDriverModule(const std::string& name) {
    PendingCallScope pending("LoadModule");
    ModuleHandle module = LoadModule(name);
    if (module == nullptr) {
        LogLoaderReason("ModuleLoader::LoadModule");
    }
    return module;
}

void* DriverEntryPoint(ModuleHandle module, const char* name) {
    void* entry = ModuleEntryPoint(module, name);
    if (entry == nullptr) {
        LogLoaderReason("ModuleLoader::EntryPoint");
    }
    return entry;
}

uint32_t ResultCode(CK_RV rv, const char* function, const char* source) {
    if (rv <= std::numeric_limits<uint32_t>::max()) {
        return static_cast<uint32_t>(rv);
    }
    constexpr auto kCode = static_cast<uint32_t>(CKR_GENERAL_ERROR);
    LOG_MESSAGE(static_cast<int32_t>(kCode), 0, source,
                "%s returned 0x%lX, which is no 32-bit result: reported as 0x%X.", function,
                static_cast<unsigned long>(rv), kCode);
    return kCode;
}

uint32_t ReportCallFailure(IMessageList* list, const char* source, const std::string& driverName,
                           const char* function, CK_RV rv) {
    const uint32_t code = ResultCode(rv, function, source);
    LOG_MESSAGE(static_cast<int32_t>(code), 0, source, "%s error: 0x%X.", function, code);
    AddStatusLine(list, FormatStatus(code, driverName.c_str(), function, kStatusDriverCallError));
    return code;
}
