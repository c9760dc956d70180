#include "FuzzManager.h"

#include <stdlib.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "log/Log.h"
#include "manager/SmartCardManager.h"

namespace {

std::filesystem::path MakeScratchDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "lumidor-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::system_error(errno, std::generic_category(), "mkdtemp");
    }
    return pattern;
}

// The manager opens ./Lumidor.log when it is made. Only then is the scratch directory the
// current one: libFuzzer resolves its relative paths (corpus, artifacts) later, against the
// directory it was started in.
std::unique_ptr<CSmartCardManager> MakeManagerIn(const std::filesystem::path& directory) {
    const std::filesystem::path started = std::filesystem::current_path();
    std::filesystem::current_path(directory);
    auto manager = std::make_unique<CSmartCardManager>();
    std::filesystem::current_path(started);
    g_logLevel = 0;
    return manager;
}

struct FuzzEnvironment {
    FuzzEnvironment() : scratch(MakeScratchDirectory()), manager(MakeManagerIn(scratch)) {}
    ~FuzzEnvironment() {
        // The manager closes its log before the directory goes.
        manager.reset();
        std::error_code ignored;
        std::filesystem::remove_all(scratch, ignored);
    }

    std::filesystem::path scratch;
    std::unique_ptr<CSmartCardManager> manager;
};

}  // namespace

CSmartCardManager& FuzzManager() {
    static FuzzEnvironment environment;
    return *environment.manager;
}
