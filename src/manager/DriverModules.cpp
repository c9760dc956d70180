#include <cstdio>

#include "log/Log.h"
#include "manager/SmartCardManager.h"
#include "manager/StatusText.h"
#include "platform/ModuleLoader.h"

namespace {

// The status line for a module that lacks the "C_GetFunctionList" entry point.
constexpr int kNoEntryPointTemplate = 330;

std::vector<std::string> DriverNames(const std::string& drivers) {
    std::vector<std::string> names;
    if (drivers.find(',') == std::string::npos) {
        names.push_back(drivers);
        return names;
    }
    std::size_t start = 0;
    while (start <= drivers.size()) {
        std::size_t comma = drivers.find(',', start);
        if (comma == std::string::npos) {
            comma = drivers.size();
        }
        if (comma > start) {
            names.push_back(drivers.substr(start, comma - start));
        }
        start = comma + 1;
    }
    return names;
}

unsigned int Hex(CK_RV rv) {
    return static_cast<unsigned int>(rv);
}

}  // namespace

uint32_t CSmartCardManager::ProbeDrivers(const std::string& drivers, const char* source,
                                         bool keep) {
    std::vector<std::string> names = DriverNames(drivers);
    const bool single = drivers.find(',') == std::string::npos;
    uint32_t result = 0;
    ModuleHandle previous = nullptr;
    for (const std::string& name : names) {
        if (g_logLevel >= 1)
            LogMessage(0, 0, source, "Try loading '%s' module...", name.c_str());
        ReleaseModule(previous);
        previous = LoadModule(name);
        if (previous != nullptr) {
            if (m_statusList != nullptr) {
                AddStatusLine(m_statusList, FormatErrorStatus(0, name.c_str(), 322));
            }
            if (g_logLevel >= 1)
                LogMessage(0, 0, source, "'%s' module successfully loaded.", name.c_str());
            if (keep) {
                m_drivers.push_back(name);
            }
        } else {
            uint32_t error = ModuleLastError();
            if (g_logLevel >= 1)
                LogMessage(static_cast<int32_t>(error), 1, source, "Error loading '%s' library !",
                           name.c_str());
            if (m_statusList != nullptr) {
                AddStatusLine(m_statusList, FormatErrorStatus(error, name.c_str(), 311));
            }
            result = error;
            if (single) {
                return result;
            }
        }
    }
    ReleaseModule(previous);
    return result;
}

ModuleHandle CSmartCardManager::UpdateFileInfo() {
    if (g_logLevel >= 1)
        LogMessage(0, 0, "CSmartCardManager::UpdateFileInfo", "Verifying module '%s'.",
                   m_driverInUse.c_str());
    ModuleHandle module = LoadModule(m_driverInUse);
    if (module != nullptr) {
        std::string path = ModuleFilePath(module);
        if (!path.empty()) {
            m_driverPath = path;
        }
    }
    return module;
}

CK_FUNCTION_LIST* CSmartCardManager::GetFunctionList(ModuleHandle module, const std::string& name,
                                                     uint32_t* failure) {
    const char* source = "CSmartCardManager::GetFunctionList";
    uint32_t ignored = 0;
    uint32_t& code = failure != nullptr ? *failure : ignored;
    code = 0;

    auto getFunctionList =
        reinterpret_cast<CK_C_GetFunctionList>(ModuleEntryPoint(module, "C_GetFunctionList"));
    if (getFunctionList == nullptr) {
        code = ModuleLastError();
        if (g_logLevel >= 1)
            LogMessage(static_cast<int32_t>(code), 1, source,
                       "Unable to find C_GetFunctionList function.");
        if (m_statusList != nullptr) {
            AddStatusLine(m_statusList,
                          FormatErrorStatus(code, name.c_str(), kNoEntryPointTemplate));
        }
        return nullptr;
    }

    CK_FUNCTION_LIST* list = nullptr;
    CK_RV rv = getFunctionList(&list);
    // A module that answers CKR_OK without a list, or without C_Initialize, is as broken as
    // one that fails: calling through it would crash the program.
    if (rv == CKR_OK && (list == nullptr || list->C_Initialize == nullptr)) {
        rv = CKR_GENERAL_ERROR;
    }
    if (rv != CKR_OK) {
        code = static_cast<uint32_t>(rv);
        if (g_logLevel >= 1)
            LogMessage(static_cast<int32_t>(code), 0, source, "C_GetFunctionList error: 0x%X.",
                       Hex(rv));
        if (m_statusList != nullptr) {
            AddStatusLine(m_statusList, FormatStatus(code, name.c_str(), "C_GetFunctionList", 320));
        }
        return nullptr;
    }

    rv = list->C_Initialize(nullptr);
    if (rv != CKR_OK && rv != CKR_CRYPTOKI_ALREADY_INITIALIZED) {
        code = static_cast<uint32_t>(rv);
        if (g_logLevel >= 1)
            LogMessage(static_cast<int32_t>(code), 0, source, "C_Initialize error: 0x%X.", Hex(rv));
        if (m_statusList != nullptr) {
            AddStatusLine(m_statusList, FormatStatus(code, name.c_str(), "C_Initialize", 320));
        }
        return nullptr;
    }
    return list;
}

void CSmartCardManager::ReadDriverVersion(const char* source, uint32_t code) {
    if (m_driverPath.empty()) {
        return;
    }
    uint16_t version[4] = {0, 0, 0, 0};
    switch (ModuleFileVersion(m_driverPath, version)) {
        case ModuleVersionResult::Found: {
            char text[32];
            std::snprintf(text, sizeof text, "%d.%d.%d.%d", version[0], version[1], version[2],
                          version[3]);
            m_driverVersion = text;
            break;
        }
        case ModuleVersionResult::None:
            break;
        case ModuleVersionResult::Failed:
            if (g_logLevel >= 1)
                LogMessage(static_cast<int32_t>(code), 0, source, "GetFileVersionInfo error: 0x%X.",
                           ModuleLastError());
            break;
    }
}
