#include "ui/framework/ThreadNotice.h"

#include <QSocketNotifier>
#include <utility>

ThreadNotice::ThreadNotice(std::function<void()> handler)
    : m_handler(std::move(handler)),
      m_notifier(std::make_unique<QSocketNotifier>(m_notice.Handle(), QSocketNotifier::Read)) {
    connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] { Take(); });
}

// The notifier goes before the notice it watches (members go in reverse order).
ThreadNotice::~ThreadNotice() = default;

void ThreadNotice::Post() {
    m_notice.Post();
}

void ThreadNotice::Take() {
    // Taking resets the notice first: posts made while the handler runs call it again.
    if (m_notice.Take()) {
        m_handler();
    }
}
