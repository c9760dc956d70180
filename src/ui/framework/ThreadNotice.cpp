#include "ui/framework/ThreadNotice.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cstdint>
#include <stdexcept>
#include <utility>

ThreadNotice::ThreadNotice(std::function<void()> handler)
    : m_handler(std::move(handler)), m_fd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (m_fd < 0) {
        throw std::runtime_error("eventfd failed");
    }
    m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] { Take(); });
}

ThreadNotice::~ThreadNotice() {
    m_notifier.reset();
    close(m_fd);
}

void ThreadNotice::Post() {
    const std::uint64_t one = 1;
    // Only a counter at its limit refuses: the notice is pending then anyway.
    [[maybe_unused]] const ssize_t written = write(m_fd, &one, sizeof one);
}

void ThreadNotice::Take() {
    std::uint64_t count = 0;
    // Reading resets the counter first: posts made while the handler runs call it again.
    if (read(m_fd, &count, sizeof count) == sizeof count && count > 0) {
        m_handler();
    }
}
