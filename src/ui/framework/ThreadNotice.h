#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <atomic>
#include <functional>
#include <utility>

// A wake-up for a window's thread from any other thread. Post() may be called from any
// thread, any number of times; `handler` runs on the thread that made the notice, once for
// all the posts made before it ran. Nothing but the fact crosses: the threads share only an
// atomic flag, since Qt's own hand-over of events is invisible to ThreadSanitizer. The
// notice must outlive the threads that post to it.
class ThreadNotice : public QObject {
public:
    explicit ThreadNotice(std::function<void()> handler) : m_handler(std::move(handler)) {}

    void Post() {
        if (!m_posted.exchange(true)) {
            QCoreApplication::postEvent(this, new QEvent(EventType()));
        }
    }

protected:
    void customEvent(QEvent* event) override {
        if (event->type() == EventType()) {
            // Posts made while the handler runs call it again.
            m_posted = false;
            m_handler();
        }
    }

private:
    static QEvent::Type EventType() {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }

    std::function<void()> m_handler;
    std::atomic<bool> m_posted{false};
};
