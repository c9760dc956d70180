#include "platform/ModuleLoader.h"

#include <windows.h>

#include <vector>

#include "platform/SystemText.h"
#include "platform/WindowsErrorText.h"

namespace {

thread_local uint32_t t_lastError = 0;
thread_local std::string t_lastReason;

// The reason reads as dlopen's does on Linux: what was asked for, then the system's text.
void Fail(uint32_t code, const std::string& subject) {
    t_lastError = code;
    const std::string text = WindowsErrorText(code);
    t_lastReason = text.empty() ? subject : subject + ": " + text;
}

void Succeed() {
    t_lastError = 0;
    t_lastReason.clear();
}

struct Attempt {
    HMODULE handle = nullptr;
    uint32_t code = 0;
};

Attempt TryLoad(const std::string& path) {
    // No message box of the system's for a missing or broken file: the caller reports it.
    DWORD previousMode = 0;
    const bool quiet =
        SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previousMode) != 0;
    Attempt attempt;
    attempt.handle = LoadLibraryA(path.c_str());
    if (attempt.handle == nullptr) {
        attempt.code = GetLastError();
    }
    if (quiet) {
        SetThreadErrorMode(previousMode, nullptr);
    }
    return attempt;
}

bool HasDirectory(const std::string& name) {
    return name.find_first_of("/\\:") != std::string::npos;
}

}  // namespace

// Empty: LoadLibraryA's own search order is the system's; there is no module directory of
// p11-kit's to add.
std::vector<std::string>& ModuleSearchDirectories() {
    static std::vector<std::string> directories;
    return directories;
}

ModuleHandle LoadModule(const std::string& name) {
    if (name.empty()) {
        t_lastError = kErrorModuleNotFound;
        t_lastReason = "empty module name";
        return nullptr;
    }
    Attempt attempt = TryLoad(name);
    std::string attempted = name;
    if (attempt.handle == nullptr && attempt.code == kErrorModuleNotFound && !HasDirectory(name)) {
        for (const std::string& directory : ModuleSearchDirectories()) {
            const std::string path = directory + "\\" + name;
            Attempt candidate = TryLoad(path);
            // A file that is there but does not load is the answer; keep searching only
            // while nothing is found.
            if (candidate.handle != nullptr || candidate.code != kErrorModuleNotFound) {
                attempt = candidate;
                attempted = path;
                break;
            }
        }
    }
    if (attempt.handle == nullptr) {
        Fail(attempt.code, attempted);
        return nullptr;
    }
    Succeed();
    return attempt.handle;
}

void ReleaseModule(ModuleHandle module) {
    if (module != nullptr) {
        FreeLibrary(static_cast<HMODULE>(module));
    }
}

void* ModuleEntryPoint(ModuleHandle module, const char* name) {
    if (module == nullptr) {
        t_lastError = kErrorModuleNotFound;
        t_lastReason.clear();
        return nullptr;
    }
    FARPROC entry = GetProcAddress(static_cast<HMODULE>(module), name);
    if (entry == nullptr) {
        Fail(GetLastError(), name);
        return nullptr;
    }
    Succeed();
    // The caller casts the entry back to the function's own type.
    return reinterpret_cast<void*>(entry);
}

std::string ModuleFilePath(ModuleHandle module) {
    if (module == nullptr) {
        return {};
    }
    // The path may be longer than MAX_PATH; a full buffer means the name was cut.
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameA(static_cast<HMODULE>(module), buffer.data(),
                                                static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return {};
        }
        if (length < buffer.size()) {
            return std::string(buffer.data(), length);
        }
        if (buffer.size() >= 32768) {
            return {};
        }
        buffer.resize(buffer.size() * 2);
    }
}

bool ModuleFileVersion(const std::string& path, uint16_t version[4]) {
    if (path.empty()) {
        return false;
    }
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (size == 0) {
        return false;
    }
    std::vector<char> data(size);
    if (GetFileVersionInfoA(path.c_str(), 0, size, data.data()) == 0) {
        return false;
    }
    void* block = nullptr;
    UINT blockSize = 0;
    if (VerQueryValueA(data.data(), "\\", &block, &blockSize) == 0 ||
        blockSize < sizeof(VS_FIXEDFILEINFO)) {
        return false;
    }
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(block);
    if (fixed->dwSignature != 0xFEEF04BD) {
        return false;
    }
    version[0] = HIWORD(fixed->dwFileVersionMS);
    version[1] = LOWORD(fixed->dwFileVersionMS);
    version[2] = HIWORD(fixed->dwFileVersionLS);
    version[3] = LOWORD(fixed->dwFileVersionLS);
    return true;
}

uint32_t ModuleLastError() {
    return t_lastError;
}

const std::string& ModuleLastReason() {
    return t_lastReason;
}
