#include "manager/HeldModules.h"

#include "manager/Pkcs11Calls.h"

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
        m_held.emplace_back(name, module);
    }
}

ModuleHandle HeldModules::Find(const std::string& name) const {
    for (const auto& [heldName, module] : m_held) {
        if (heldName == name) {
            return module;
        }
    }
    return nullptr;
}

void HeldModules::ReleaseAll() {
    for (auto& held : m_held) {
        ReleaseModule(held.second);
    }
    m_held.clear();
}
