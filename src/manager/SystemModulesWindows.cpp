#include "manager/SystemModules.h"

// Windows has no p11-kit, hence no registry of PKCS#11 modules to list: the caller reports
// that the system's modules could not be listed, as when p11-kit fails on Linux.
SystemModuleList RegisteredModules() {
    SystemModuleList list;
    list.failure = "p11-kit is not available on Windows";
    return list;
}
