#include "manager/SystemModules.h"

#include <p11-kit/p11-kit.h>

#include <cstdlib>

#include "log/Log.h"
#include "manager/PendingCall.h"

namespace {

// A text p11-kit allocated, as a string; freed.
std::string TakeText(char* text) {
    std::string taken = text != nullptr ? text : "";
    std::free(text);
    return taken;
}

}  // namespace

SystemModuleList RegisteredModules() {
    SystemModuleList list;
    // p11-kit loads every registered module's file, whose own initialisers may hang: the busy
    // window and the log name p11-kit as what is waited for.
    LOG_MESSAGE(0, 0, "RegisteredModules", "Loading the modules registered with p11-kit...");
    CK_FUNCTION_LIST** modules = nullptr;
    {
        StartingModuleScope starting("p11-kit");
        PendingCallScope pending("p11_kit_modules_load");
        // Unmanaged: p11-kit hands over the modules' own function lists and starts nothing.
        modules = p11_kit_modules_load(nullptr, P11_KIT_MODULE_UNMANAGED);
    }
    if (modules == nullptr) {
        const char* message = p11_kit_message();
        list.failure = message != nullptr ? message : "";
        return list;
    }
    list.listed = true;
    for (CK_FUNCTION_LIST** module = modules; *module != nullptr; ++module) {
        SystemModule entry{TakeText(p11_kit_module_get_name(*module)),
                           TakeText(p11_kit_module_get_filename(*module))};
        if (entry.fileName.empty()) {
            list.withoutFile.push_back(entry.name);
        } else {
            list.modules.push_back(entry);
        }
    }
    p11_kit_modules_release(modules);
    return list;
}
