#pragma once

// Loading PKCS#11 modules as shared objects (Linux) or DLLs (Windows), with Windows error
// codes on both.
//
// Every failing call leaves a code of platform/SystemText.h in the calling thread's last
// error (ModuleLastError) and, where the dynamic linker gave one, the linker's own reason
// (ModuleLastReason), which the caller logs.

#include <cstdint>
#include <string>
#include <vector>

using ModuleHandle = void*;

// dlopen(name, RTLD_NOW | RTLD_LOCAL), on Windows LoadLibraryA(name), with the name unchanged.
// A bare name (no directory in it) that is not found as given is looked for in
// ModuleSearchDirectories. Null on failure; an empty name never loads (dlopen would hand back
// the program itself).
ModuleHandle LoadModule(const std::string& name);

// The directories searched for a bare name, in order: on Linux p11-kit's module path (as
// built), then /usr/local/lib and /usr/lib; none on Windows, whose loader has a search order of
// its own. Tests may change the list.
std::vector<std::string>& ModuleSearchDirectories();

// Undoes one LoadModule. Null is ignored.
void ReleaseModule(ModuleHandle module);

// An exported entry point of the module, or null: 127 when the module lacks it, 126 when
// there is no module.
void* ModuleEntryPoint(ModuleHandle module, const char* name);

// Absolute path of the loaded file, or the empty text when it cannot be told.
std::string ModuleFilePath(ModuleHandle module);

// File version of the module at `path` in version[0..3], or false when it has none: on Linux
// the numeric suffix of the file name it resolves to (libx.so.1.2.3 gives 1.2.3.0), on Windows
// the file version of its version resource. No code of the module runs for it.
bool ModuleFileVersion(const std::string& path, uint16_t version[4]);

// Linux only, as the texts they read are (ELF file names, dlopen's reasons).

// The numeric suffix of a file name as a version, or false when it has none.
bool VersionFromFileName(const std::string& fileName, uint16_t version[4]);

// The Windows-style code for a dynamic linker reason. `attempted` is the path handed to
// dlopen, whose text the reason starts with and which must not be read as part of it.
uint32_t LoadErrorCode(const std::string& reason, const std::string& attempted);

// The calling thread's last loader error, 0 after a call that succeeded.
uint32_t ModuleLastError();
// The dynamic linker's reason for the last failure, empty when it gave none.
const std::string& ModuleLastReason();
