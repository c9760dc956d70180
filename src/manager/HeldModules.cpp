#include "manager/HeldModules.h"

#include <algorithm>

#include "log/Log.h"
#include "manager/Pkcs11Calls.h"

namespace {

constexpr const char* kSource = "CSmartCardManager::ReleaseModules";

void Finalize(const std::string& name, CK_FUNCTION_LIST* list) {
    const CK_RV rv = MODULE_CALL(list, C_Finalize, nullptr);
    if (rv == CKR_OK) {
        LOG_MESSAGE(0, 0, kSource, "Module '%s' finalized.", name.c_str());
    } else {
        LOG_MESSAGE(static_cast<int32_t>(ResultCode(rv, "C_Finalize", kSource)), 0, kSource,
                    "C_Finalize of module '%s' error: 0x%lX.", name.c_str(),
                    static_cast<unsigned long>(rv));
    }
}

// The held load of `name` in `held`, or its end.
template <typename List>
auto FindByName(List& held, const std::string& name) {
    return std::find_if(held.begin(), held.end(),
                        [&](const auto& each) { return each.name == name; });
}

}  // namespace

void HeldModules::End() {
    if (m_depth > 0 && --m_depth == 0) {
        ReleaseAll();
    }
}

void HeldModules::Hold(const std::string& name) {
    if (m_depth == 0 || Find(name) != nullptr) {
        return;
    }
    // The module is loaded already: this load only counts, it starts nothing.
    ModuleHandle module = LoadDriverModule(name);
    if (module != nullptr) {
        m_held.push_back({name, module, nullptr});
    }
}

ModuleHandle HeldModules::Find(const std::string& name) const {
    const auto held = FindByName(m_held, name);
    return held != m_held.end() ? held->module : nullptr;
}

void HeldModules::Started(const std::string& name, CK_FUNCTION_LIST* list) {
    const auto held = FindByName(m_held, name);
    if (held != m_held.end()) {
        held->startedList = list;
    }
}

void HeldModules::ReleaseAll() {
    // Every module is finalised while all the held loads still keep every file in memory: two
    // names may be one file.
    for (const Held& held : m_held) {
        if (held.startedList != nullptr) {
            Finalize(held.name, held.startedList);
        }
    }
    for (const Held& held : m_held) {
        ReleaseModule(held.module);
    }
    m_held.clear();
}
