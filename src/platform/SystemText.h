#pragma once

#include <cstdint>
#include <string>

// Windows system error codes that the module loader reports (see ModuleLoader.h).
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorModuleNotFound = 126;
constexpr uint32_t kErrorProcNotFound = 127;
constexpr uint32_t kErrorBadExeFormat = 193;
constexpr uint32_t kErrorDllInitFailed = 1114;

// The system's message text for a PC/SC code or for one of the Windows codes above, or the
// empty text when there is none: English on Linux, the system's language on Windows. Safe to
// call from any thread.
std::string SystemMessageText(uint32_t code);
