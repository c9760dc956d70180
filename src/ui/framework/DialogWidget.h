#pragma once

#include <QDialog>
#include <functional>

class QPoint;

// What the window's own events become in its dialog.
struct DialogWidgetEvents {
    std::function<void(int id)> clicked;  // a button's command (IDOK, IDCANCEL)
    std::function<void()> close;          // the close box
    std::function<void(const QPoint& at)> contextMenu;
};

// The Qt window behind a dialog: keys, the close box and the context menu are turned into the
// dialog's commands, as a Windows dialog does.
class DialogWidget : public QDialog {
public:
    DialogWidget(DialogWidgetEvents events, QWidget* owner, Qt::WindowFlags flags);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    DialogWidgetEvents m_events;
};
