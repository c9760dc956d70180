#include "ui/framework/InputBlocker.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>
#include <QWindow>
#include <utility>

InputBlocker::InputBlocker(QWidget* window, std::function<void()> onClose)
    : m_window(window), m_onClose(std::move(onClose)) {
    qApp->installEventFilter(this);
}

InputBlocker::~InputBlocker() {
    qApp->removeEventFilter(this);
}

bool InputBlocker::IsWorkingWindow(QObject* object) const {
    if (m_window == nullptr) {
        return false;
    }
    // Keys from the window system reach the window's QWindow before any widget.
    if (object == m_window->windowHandle()) {
        return true;
    }
    auto* widget = qobject_cast<QWidget*>(object);
    return widget != nullptr && (widget == m_window || m_window->isAncestorOf(widget));
}

bool InputBlocker::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::Close:
            if (watched != m_window) {
                return false;
            }
            event->ignore();  // the window stays unless onClose ends it
            m_onClose();
            return true;
        case QEvent::KeyPress: {
            // As in the dialog's own key handling, Escape with Ctrl, Alt or Meta is no close.
            auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Escape &&
                !(key->modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier)) &&
                IsWorkingWindow(watched)) {
                m_onClose();
            }
            return true;
        }
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
            return true;
        default:
            return false;
    }
}
