#pragma once

// Loading PKCS#11 modules as shared objects, with Windows-style error codes.
//
// Every failing call leaves a code of platform/SystemText.h in the calling thread's last
// error (ModuleLastError) and, where the dynamic linker gave one, the linker's own reason
// (ModuleLastReason), which the caller logs.

#include <cstdint>
#include <string>
#include <vector>

using ModuleHandle = void*;

// dlopen(name, RTLD_NOW | RTLD_LOCAL) with the name unchanged. A bare name (no '/') that is
// not found as given is looked for in the system's PKCS#11 module directories, then in
// /usr/local/lib and /usr/lib. Null on failure; an empty name never loads (dlopen would
// hand back the program itself).
ModuleHandle LoadModule(const std::string& name);

// The directories searched for a bare name, in order: p11-kit's module path (as built), then
// /usr/local/lib and /usr/lib. Tests may change the list.
std::vector<std::string>& ModuleSearchDirectories();

// Undoes one LoadModule. Null is ignored.
void ReleaseModule(ModuleHandle module);

// An exported entry point of the module, or null: 127 when the module lacks it, 126 when
// there is no module.
void* ModuleEntryPoint(ModuleHandle module, const char* name);

// Absolute path of the loaded file, or the empty text when it cannot be told.
std::string ModuleFilePath(ModuleHandle module);

// File version of the module at `path` in version[0..3]: the numeric suffix of the file name
// it resolves to (libx.so.1.2.3 gives 1.2.3.0), or false when it has none.
bool ModuleFileVersion(const std::string& path, uint16_t version[4]);

// The numeric suffix of a file name as a version, or false when it has none.
bool VersionFromFileName(const std::string& fileName, uint16_t version[4]);

// The Windows-style code for a dynamic linker reason. `attempted` is the path handed to
// dlopen, whose text the reason starts with and which must not be read as part of it.
uint32_t LoadErrorCode(const std::string& reason, const std::string& attempted);

// The calling thread's last loader error, 0 after a call that succeeded.
uint32_t ModuleLastError();
// The dynamic linker's reason for the last failure, empty when it gave none.
const std::string& ModuleLastReason();
