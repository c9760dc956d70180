// Linked into every test program of the sanitizer build. A card the catalogue does not know
// makes the program try the modules registered with p11-kit, and, as with every module, it
// unloads them without C_Finalize: the module's own memory goes with it, and the leak check
// would report it as the program's. One load of each registered module, kept for the test
// program's life, keeps that memory reachable, so the check sees the program's own memory.

#include <dlfcn.h>

#include "manager/SystemModules.h"

namespace {

const bool kPinned = [] {
    for (const SystemModule& module : RegisteredModules().modules) {
        dlopen(module.fileName.c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    return true;
}();

}  // namespace
