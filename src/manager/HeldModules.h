#pragma once

// The driver modules a manager operation has loaded, each kept loaded by one load of its own
// until the operation ends. A later load of the same module in that operation finds it
// started (its C_Initialize answers CKR_CRYPTOKI_ALREADY_INITIALIZED), where a module loaded
// anew would start again: with a real card that means binding the card, which takes seconds.
//
// When the operation ends, every module that this program started is finalised before its
// held load goes: a module keeps its PC/SC context and card connection until C_Finalize, and
// one left started per check would use up the PC/SC service and keep the card from other
// programs. Nothing stays loaded or started between two operations.

#include <string>
#include <vector>

#include "platform/ModuleLoader.h"
#include "platform/Pkcs11.h"

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
    // The C_Initialize of held module `name` answered CKR_OK: this program started it, and
    // finalises it through `list` when the operation ends. A module that was started already
    // (by another part of the process) is left alone.
    void Started(const std::string& name, CK_FUNCTION_LIST* list);

private:
    struct Held {
        std::string name;
        ModuleHandle module = nullptr;
        CK_FUNCTION_LIST* startedList = nullptr;
    };

    void ReleaseAll();

    int m_depth = 0;
    std::vector<Held> m_held;
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
