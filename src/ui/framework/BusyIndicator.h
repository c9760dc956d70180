#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <chrono>

class QFrame;
class QLabel;
class QWidget;

// The panel that a working window shows over its controls once the work lasts longer than
// `showAfter`: "Operazione in corso...", and from `nameDriverAfter` on, while the work waits
// for a driver module, the call it waits for ("In attesa del driver (C_Login)..."), kept
// current as the work goes from call to call. A module whose start lasts longer than
// `nameStartAfter` is named whatever the work's age ("In attesa dell'avvio del driver
// 'x.so'..."), and with the call once that is named too ("In attesa del driver 'x.so'
// (C_Initialize)...").
class BusyIndicator {
public:
    BusyIndicator(QWidget* window, std::chrono::milliseconds showAfter,
                  std::chrono::milliseconds nameDriverAfter,
                  std::chrono::milliseconds nameStartAfter);
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
    std::chrono::milliseconds m_nameDriverAfter;
    std::chrono::milliseconds m_nameStartAfter;
    QElapsedTimer m_elapsed;
    QTimer m_refresh;
};
