#pragma once

#include <QObject>
#include <functional>
#include <memory>

class QSocketNotifier;

// A wake-up for a window's thread from any other thread. Post() may be called from any
// thread, any number of times; `handler` runs on the thread that made the notice, once for
// all the posts made before it ran. Nothing but the fact crosses, through an eventfd that the
// window's event loop watches: no object made on one thread is read on the other, and the
// kernel's hand-over is one that ThreadSanitizer sees. The notice must outlive the threads
// that post to it.
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
    int m_fd;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
