#include "support/OpenDescriptors.h"

#include <filesystem>
#include <system_error>

OpenDescriptors CountOpenDescriptors() {
    OpenDescriptors count;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
        const std::filesystem::path target = std::filesystem::read_symlink(entry.path(), error);
        if (error) {
            continue;  // closed meanwhile
        }
        ++count.all;
        count.sockets += target.string().rfind("socket:", 0) == 0 ? 1 : 0;
    }
    return count;
}
