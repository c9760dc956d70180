#pragma once

#include <QDialog>

class CDialogEx;

// The Qt window behind a CDialogEx: keys, the close box and the context menu are turned
// into the dialog's commands, as a Windows dialog does.
class DialogWidget : public QDialog {
public:
    DialogWidget(CDialogEx* dialog, QWidget* owner, Qt::WindowFlags flags);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    CDialogEx* m_dialog;
};
