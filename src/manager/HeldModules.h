#pragma once

// The driver modules a manager operation has started, each kept loaded by one load of its own
// until the operation ends. A later load of the same module in that operation finds it
// started (its C_Initialize answers CKR_CRYPTOKI_ALREADY_INITIALIZED), where a module loaded
// anew would start again: with a real card that means binding the card, which takes seconds.
// Nothing stays loaded between two operations.

#include <string>
#include <utility>
#include <vector>

#include "platform/ModuleLoader.h"

class HeldModules {
public:
    HeldModules() = default;
    ~HeldModules() { ReleaseAll(); }
    HeldModules(const HeldModules&) = delete;
    HeldModules& operator=(const HeldModules&) = delete;

    // An operation starts or ends; operations may call each other, and the modules are given
    // back when the outermost one ends.
    void Begin() { ++m_depth; }
    void End();
    // After a successful load of `name` within an operation: one more load of it, held until
    // the operation ends; nothing when it is held already.
    void Hold(const std::string& name);
    // The held load of `name`, or null.
    ModuleHandle Find(const std::string& name) const;

private:
    void ReleaseAll();

    int m_depth = 0;
    std::vector<std::pair<std::string, ModuleHandle>> m_held;
};

// One operation of the manager, for the object's lifetime.
class HeldModulesScope {
public:
    explicit HeldModulesScope(HeldModules& modules) : m_modules(modules) { m_modules.Begin(); }
    ~HeldModulesScope() { m_modules.End(); }
    HeldModulesScope(const HeldModulesScope&) = delete;
    HeldModulesScope& operator=(const HeldModulesScope&) = delete;

private:
    HeldModules& m_modules;
};
