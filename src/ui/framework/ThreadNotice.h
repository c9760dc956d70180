#pragma once

#include <QObject>
#include <functional>
#include <memory>

#include "platform/WaitableNotice.h"

class QSocketNotifier;

// A wake-up for a window's thread from any other thread. Post() may be called from any
// thread, any number of times; `handler` runs on the thread that made the notice, once for
// all the posts made before it ran. Nothing but the fact crosses, through a WaitableNotice
// that the window's event loop watches: no object made on one thread is read on the other.
// The notice must outlive the threads that post to it.
class ThreadNotice : public QObject {
public:
    explicit ThreadNotice(std::function<void()> handler);
    ~ThreadNotice() override;
    ThreadNotice(const ThreadNotice&) = delete;
    ThreadNotice& operator=(const ThreadNotice&) = delete;

    void Post();

private:
    void Take();

    std::function<void()> m_handler;
    WaitableNotice m_notice;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
