#pragma once

// The PKCS#11 modules registered on the system with p11-kit: its system configuration,
// the modules that packages install (OpenSC registers itself), and the user's own
// configuration where p11-kit honours it (not for root, nor for setuid programs). Windows has
// no p11-kit: there the list is never listed (SystemModulesWindows.cpp).

#include <string>
#include <vector>

struct SystemModule {
    std::string name;      // the name of its registration ("opensc-pkcs11")
    std::string fileName;  // the module's file, as the loader takes it
};

struct SystemModuleList {
    bool listed = false;                   // false when p11-kit could not read its configuration
    std::string failure;                   // then p11-kit's reason, if it gave one
    std::vector<SystemModule> modules;     // in p11-kit's order (priority, then name)
    std::vector<std::string> withoutFile;  // registrations that name no file (remote ones)
};

// Lists the modules registered for this program, as p11-kit's loader does it (the
// "enable-in" and "disable-in" options included). p11-kit loads each module's file to list
// it but starts none: no module's C_Initialize runs here.
SystemModuleList RegisteredModules();
