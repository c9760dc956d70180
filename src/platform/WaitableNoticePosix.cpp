#include "platform/WaitableNotice.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

struct WaitableNotice::System {
    int fd;
};

WaitableNotice::WaitableNotice()
    : m_system(std::make_unique<System>(System{eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)})) {
    if (m_system->fd < 0) {
        throw std::system_error(errno, std::generic_category(), "eventfd");
    }
}

WaitableNotice::~WaitableNotice() {
    close(m_system->fd);
}

void WaitableNotice::Post() {
    const std::uint64_t one = 1;
    // Only a counter at its limit refuses: the notice is pending then anyway.
    [[maybe_unused]] const ssize_t written = write(m_system->fd, &one, sizeof one);
}

bool WaitableNotice::Take() {
    std::uint64_t count = 0;
    return read(m_system->fd, &count, sizeof count) == sizeof count && count > 0;
}

std::intptr_t WaitableNotice::Handle() const {
    return m_system->fd;
}
