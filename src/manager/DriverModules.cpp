#include <cstdio>
#include <cstring>

#include "log/Log.h"
#include "manager/Pkcs11Calls.h"
#include "manager/SmartCardManager.h"
#include "manager/StatusTemplates.h"
#include "manager/StatusText.h"
#include "platform/ModuleLoader.h"

namespace {

constexpr const char* kGetFunctionListSource = "CSmartCardManager::GetFunctionList";

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

// How reading a module's version from its C_GetInfo ended.
enum class VersionResult { Found, None, NotLoaded };

// The list that a loaded module's C_GetFunctionList gives, or null.
CK_FUNCTION_LIST* FunctionListOf(ModuleHandle module) {
    auto getFunctionList =
        reinterpret_cast<CK_C_GetFunctionList>(DriverEntryPoint(module, "C_GetFunctionList"));
    CK_FUNCTION_LIST* list = nullptr;
    if (getFunctionList == nullptr || Call("C_GetFunctionList", getFunctionList, &list) != CKR_OK) {
        return nullptr;
    }
    return list;
}

// C_GetInfo, initialising the module first when it insists on it; a start of this call's
// making is left to `modules` to finalise.
CK_RV LibraryInfo(CK_FUNCTION_LIST* list, const std::string& name, HeldModules& modules,
                  CK_INFO* info) {
    CK_RV rv = MODULE_CALL(list, C_GetInfo, info);
    if (rv == CKR_CRYPTOKI_NOT_INITIALIZED) {
        const CK_RV initialized = MODULE_CALL(list, C_Initialize, nullptr);
        if (initialized == CKR_OK) {
            modules.Started(name, list);
        }
        if (initialized == CKR_OK || initialized == CKR_CRYPTOKI_ALREADY_INITIALIZED) {
            rv = MODULE_CALL(list, C_GetInfo, info);
        }
    }
    return rv;
}

// C_GetInfo's libraryVersion of module `name`, loaded, as major.minor.0.0.
VersionResult LibraryVersion(ModuleHandle module, const std::string& name, HeldModules& modules,
                             uint16_t version[4]) {
    CK_FUNCTION_LIST* list = FunctionListOf(module);
    CK_INFO info;
    std::memset(&info, 0, sizeof info);
    if (list == nullptr || LibraryInfo(list, name, modules, &info) != CKR_OK) {
        return VersionResult::None;
    }
    version[0] = info.libraryVersion.major;
    version[1] = info.libraryVersion.minor;
    version[2] = 0;
    version[3] = 0;
    return VersionResult::Found;
}

}  // namespace

uint32_t CSmartCardManager::ProbeDrivers(const std::string& drivers, const char* source,
                                         bool keep) {
    const DriverProbe probe = ProbeModules(drivers, Reporter(source, m_statusList));
    if (keep) {
        m_drivers.insert(m_drivers.end(), probe.loaded.begin(), probe.loaded.end());
    }
    return probe.code;
}

DriverProbe CSmartCardManager::ProbeModules(const std::string& drivers, const Reporter& reporter) {
    const char* source = reporter.Source();
    const bool single = drivers.find(',') == std::string::npos;
    DriverProbe probe;
    ModuleHandle previous = nullptr;
    for (const std::string& name : DriverNames(drivers)) {
        LOG_MESSAGE(0, 0, source, "Try loading '%s' module...", name.c_str());
        ReleaseModule(previous);
        previous = LoadDriver(name);
        if (previous != nullptr) {
            reporter.Status(FormatErrorStatus(0, name.c_str(), kStatusDriverFound));
            LOG_MESSAGE(0, 0, source, "'%s' module successfully loaded.", name.c_str());
            probe.loaded.push_back(name);
        } else {
            uint32_t error = ModuleLastError();
            LOG_MESSAGE(static_cast<int32_t>(error), 1, source, "Error loading '%s' library !",
                        name.c_str());
            reporter.Status(FormatErrorStatus(error, name.c_str(), kStatusDriverLoadError));
            probe.code = error;
            if (single) {
                return probe;
            }
        }
    }
    ReleaseModule(previous);
    return probe;
}

ModuleHandle CSmartCardManager::LoadDriver(const std::string& name) {
    StartingModuleScope starting(name);
    ModuleHandle module = LoadDriverModule(name);
    if (module != nullptr) {
        m_heldModules.Hold(name);
    }
    return module;
}

ModuleHandle CSmartCardManager::UpdateFileInfo() {
    LOG_MESSAGE(0, 0, "CSmartCardManager::UpdateFileInfo", "Verifying module '%s'.",
                m_driverInUse.c_str());
    ModuleHandle module = LoadDriver(m_driverInUse);
    if (module != nullptr) {
        std::string path = ModuleFilePath(module);
        if (!path.empty()) {
            m_driverPath = path;
        }
    }
    return module;
}

uint32_t CSmartCardManager::ReportNoFunctionList(const std::string& name, uint32_t loaderError,
                                                 IMessageList* list) {
    LOG_MESSAGE(static_cast<int32_t>(loaderError), 1, kGetFunctionListSource,
                "Unable to find C_GetFunctionList function.");
    AddStatusLine(list, FormatErrorStatus(loaderError, name.c_str(), kStatusNoEntryPoint));
    return loaderError;
}

CK_FUNCTION_LIST* CSmartCardManager::GetFunctionList(ModuleHandle module, const std::string& name,
                                                     uint32_t* failure) {
    return StartModule(module, name, m_statusList, failure);
}

CK_FUNCTION_LIST* CSmartCardManager::StartModule(ModuleHandle module, const std::string& name,
                                                 IMessageList* statusList, uint32_t* failure) {
    const char* source = kGetFunctionListSource;
    StartingModuleScope starting(name);
    uint32_t ignored = 0;
    uint32_t& code = failure != nullptr ? *failure : ignored;
    code = 0;

    auto getFunctionList =
        reinterpret_cast<CK_C_GetFunctionList>(DriverEntryPoint(module, "C_GetFunctionList"));
    if (getFunctionList == nullptr) {
        code = ReportNoFunctionList(name, ModuleLastError(), statusList);
        return nullptr;
    }

    CK_FUNCTION_LIST* list = nullptr;
    CK_RV rv = Call("C_GetFunctionList", getFunctionList, &list);
    // A module that answers CKR_OK without a list, or without C_Initialize, is as broken as
    // one that fails: calling through it would crash the program.
    if (rv == CKR_OK && (list == nullptr || list->C_Initialize == nullptr)) {
        rv = CKR_GENERAL_ERROR;
    }
    if (rv != CKR_OK) {
        code = ReportCallFailure(statusList, source, name, "C_GetFunctionList", rv);
        return nullptr;
    }

    rv = MODULE_CALL(list, C_Initialize, nullptr);
    if (rv == CKR_OK) {
        m_heldModules.Started(name, list);
    } else if (rv != CKR_CRYPTOKI_ALREADY_INITIALIZED) {
        code = ReportCallFailure(statusList, source, name, "C_Initialize", rv);
        return nullptr;
    }
    return list;
}

void CSmartCardManager::ReadDriverVersion(const char* source, uint32_t code) {
    if (m_driverPath.empty()) {
        return;
    }
    // A module that C_GetInfo had to start is finalised at the end, also when no operation
    // holds it.
    HeldModulesScope reading(m_heldModules);
    uint16_t version[4] = {0, 0, 0, 0};
    VersionResult result = VersionResult::Found;
    if (!ModuleFileVersion(m_driverPath, version)) {
        // Asked of the load the operation holds: a module loaded anew would start again.
        ModuleHandle held = m_heldModules.Find(m_driverInUse);
        const std::string& name = held != nullptr ? m_driverInUse : m_driverPath;
        ModuleHandle module = held != nullptr ? held : LoadDriver(m_driverPath);
        result = module != nullptr ? LibraryVersion(module, name, m_heldModules, version)
                                   : VersionResult::NotLoaded;
        if (module != held) {
            ReleaseModule(module);
        }
    }
    switch (result) {
        case VersionResult::Found: {
            char text[32];
            std::snprintf(text, sizeof text, "%d.%d.%d.%d", version[0], version[1], version[2],
                          version[3]);
            m_driverVersion = text;
            break;
        }
        case VersionResult::None:
            break;
        case VersionResult::NotLoaded:
            LOG_MESSAGE(static_cast<int32_t>(code), 0, source, "GetFileVersionInfo error: 0x%X.",
                        ModuleLastError());
            break;
    }
}
