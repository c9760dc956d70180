#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <chrono>

#include "ui/framework/BusyWait.h"

class QFrame;
class QLabel;
class QWidget;

// The panel that a working window shows over its controls once the work lasts longer than
// `showAfter`: what `awaitedText` says the work waits for, given the work's age, kept
// current as that changes; "Operazione in corso..." while it says nothing (an empty text or
// no function).
class BusyIndicator {
public:
    BusyIndicator(QWidget* window, std::chrono::milliseconds showAfter, AwaitedText awaitedText);
    ~BusyIndicator();
    BusyIndicator(const BusyIndicator&) = delete;
    BusyIndicator& operator=(const BusyIndicator&) = delete;

private:
    void Update();
    QString Text(std::chrono::milliseconds elapsed) const;
    void Place();

    QPointer<QWidget> m_window;
    QPointer<QFrame> m_panel;
    QPointer<QLabel> m_text;
    std::chrono::milliseconds m_showAfter;
    AwaitedText m_awaitedText;
    QElapsedTimer m_elapsed;
    QTimer m_refresh;
};
