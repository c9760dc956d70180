#pragma once

#include <QObject>
#include <QPointer>
#include <functional>

class QWidget;

// While a window's work runs on a worker thread, no input reaches any window: the work has
// the manager to itself, and a click made meanwhile is dropped rather than run later. Only
// the wish to close the working window, its close box or Escape, gets through: to `onClose`.
class InputBlocker : public QObject {
public:
    InputBlocker(QWidget* window, std::function<void()> onClose);
    ~InputBlocker() override;
    InputBlocker(const InputBlocker&) = delete;
    InputBlocker& operator=(const InputBlocker&) = delete;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The working window, its QWindow or one of its controls.
    bool IsWorkingWindow(QObject* object) const;

    QPointer<QWidget> m_window;
    std::function<void()> m_onClose;
};
