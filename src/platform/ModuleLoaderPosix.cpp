#include "platform/ModuleLoader.h"

#include <dlfcn.h>
#include <limits.h>
#include <link.h>
#include <stdlib.h>

#include <array>
#include <filesystem>
#include <vector>

#include "platform/SystemText.h"

#ifndef LUMIDOR_P11_MODULE_PATH
#define LUMIDOR_P11_MODULE_PATH ""
#endif

namespace {

thread_local uint32_t t_lastError = 0;
thread_local std::string t_lastReason;

void Fail(uint32_t code, const char* reason) {
    t_lastError = code;
    t_lastReason = reason != nullptr ? reason : "";
}

bool Contains(const std::string& text, const char* piece) {
    return text.find(piece) != std::string::npos;
}

// p11-kit's module path (may be a list separated by ':'), then the usual library homes.
std::vector<std::string> DefaultDirectories() {
    std::vector<std::string> directories;
    std::string list = LUMIDOR_P11_MODULE_PATH;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find(':', start);
        if (end == std::string::npos) {
            end = list.size();
        }
        if (end > start) {
            directories.push_back(list.substr(start, end - start));
        }
        start = end + 1;
    }
    directories.emplace_back("/usr/local/lib");
    directories.emplace_back("/usr/lib");
    return directories;
}

struct Attempt {
    void* handle = nullptr;
    uint32_t code = 0;
    std::string reason;
};

Attempt TryOpen(const std::string& path) {
    Attempt attempt;
    dlerror();
    attempt.handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (attempt.handle == nullptr) {
        const char* reason = dlerror();
        attempt.reason = reason != nullptr ? reason : "";
        attempt.code = LoadErrorCode(attempt.reason, path);
    }
    return attempt;
}

}  // namespace

std::vector<std::string>& ModuleSearchDirectories() {
    static std::vector<std::string> directories = DefaultDirectories();
    return directories;
}

uint32_t LoadErrorCode(const std::string& reason, const std::string& attempted) {
    // The reason begins with the file name, which may itself hold any of the texts below.
    std::string text = reason;
    std::string prefix = attempted + ": ";
    if (!attempted.empty() && text.compare(0, prefix.size(), prefix) == 0) {
        text.erase(0, prefix.size());
    }
    if (Contains(text, "No such file or directory") || Contains(text, "Not a directory")) {
        return kErrorModuleNotFound;
    }
    if (Contains(text, "Permission denied") || Contains(text, "Operation not permitted")) {
        return kErrorAccessDenied;
    }
    if (Contains(text, "wrong ELF class") || Contains(text, "invalid ELF header") ||
        Contains(text, "file too short") || Contains(text, "ELF file") ||
        Contains(text, "only ET_DYN and ET_EXEC can be loaded") ||
        Contains(text, "nonzero padding in e_ident")) {
        return kErrorBadExeFormat;
    }
    if (Contains(text, "undefined symbol") || Contains(text, "not defined in file")) {
        return kErrorProcNotFound;
    }
    return kErrorDllInitFailed;
}

ModuleHandle LoadModule(const std::string& name) {
    if (name.empty()) {
        Fail(kErrorModuleNotFound, "empty module name");
        return nullptr;
    }
    Attempt attempt = TryOpen(name);
    if (attempt.handle == nullptr && attempt.code == kErrorModuleNotFound &&
        name.find('/') == std::string::npos) {
        for (const std::string& directory : ModuleSearchDirectories()) {
            Attempt candidate = TryOpen(directory + "/" + name);
            // A file that is there but does not load is the answer; keep searching only
            // while nothing is found.
            if (candidate.handle != nullptr || candidate.code != kErrorModuleNotFound) {
                attempt = std::move(candidate);
                break;
            }
        }
    }
    if (attempt.handle == nullptr) {
        Fail(attempt.code, attempt.reason.c_str());
        return nullptr;
    }
    t_lastError = 0;
    t_lastReason.clear();
    return attempt.handle;
}

void ReleaseModule(ModuleHandle module) {
    if (module != nullptr) {
        dlclose(module);
    }
}

void* ModuleEntryPoint(ModuleHandle module, const char* name) {
    if (module == nullptr) {
        Fail(kErrorModuleNotFound, nullptr);
        return nullptr;
    }
    dlerror();
    void* entry = dlsym(module, name);
    if (entry == nullptr) {
        const char* reason = dlerror();
        Fail(kErrorProcNotFound, reason);
        return nullptr;
    }
    t_lastError = 0;
    t_lastReason.clear();
    return entry;
}

std::string ModuleFilePath(ModuleHandle module) {
    link_map* map = nullptr;
    if (module == nullptr || dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr ||
        map->l_name == nullptr || map->l_name[0] == '\0') {
        return {};
    }
    std::filesystem::path path(map->l_name);
    if (path.is_absolute()) {
        return path.string();
    }
    // Resolve the directory only, so that the file keeps the name it was loaded by.
    std::error_code error;
    std::filesystem::path directory = std::filesystem::canonical(
        path.has_parent_path() ? path.parent_path() : std::filesystem::path("."), error);
    if (error) {
        return std::filesystem::absolute(path, error).lexically_normal().string();
    }
    return (directory / path.filename()).string();
}

bool VersionFromFileName(const std::string& fileName, uint16_t version[4]) {
    std::size_t so = fileName.rfind(".so.");
    if (so == std::string::npos) {
        return false;
    }
    std::array<uint16_t, 4> parts{};
    std::size_t count = 0;
    std::size_t start = so + 4;
    for (;;) {
        std::size_t end = fileName.find('.', start);
        if (end == std::string::npos) {
            end = fileName.size();
        }
        if (end == start || count == parts.size() || end - start > 5) {
            return false;
        }
        uint32_t value = 0;
        for (std::size_t i = start; i < end; ++i) {
            if (fileName[i] < '0' || fileName[i] > '9') {
                return false;
            }
            value = value * 10 + static_cast<uint32_t>(fileName[i] - '0');
        }
        if (value > 0xFFFF) {
            return false;
        }
        parts[count++] = static_cast<uint16_t>(value);
        if (end == fileName.size()) {
            break;
        }
        start = end + 1;
    }
    for (std::size_t i = 0; i < parts.size(); ++i) {
        version[i] = parts[i];
    }
    return true;
}

bool ModuleFileVersion(const std::string& path, uint16_t version[4]) {
    if (path.empty()) {
        return false;
    }
    std::string resolved = path;
    char buffer[PATH_MAX];
    if (realpath(path.c_str(), buffer) != nullptr) {
        resolved = buffer;
    }
    return VersionFromFileName(std::filesystem::path(resolved).filename().string(), version);
}

uint32_t ModuleLastError() {
    return t_lastError;
}

const std::string& ModuleLastReason() {
    return t_lastReason;
}
