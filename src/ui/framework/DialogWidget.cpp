#include "ui/framework/DialogWidget.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QPushButton>
#include <utility>

#include "ui/framework/MessageMap.h"

DialogWidget::DialogWidget(DialogWidgetEvents events, QWidget* owner, Qt::WindowFlags flags)
    : QDialog(owner, flags), m_events(std::move(events)) {}

void DialogWidget::keyPressEvent(QKeyEvent* event) {
    if (event->modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier)) {
        QWidget::keyPressEvent(event);  // not QDialog's: it would end the dialog itself
        return;
    }
    switch (event->key()) {
        case Qt::Key_Escape:
            m_events.clicked(IDCANCEL);
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter: {
            // The focused push button answers Enter; otherwise the default button, and
            // without one the dialog takes it as OK.
            auto* focused = qobject_cast<QPushButton*>(focusWidget());
            if (focused != nullptr && focused->isEnabled()) {
                focused->click();
                return;
            }
            for (QPushButton* button : findChildren<QPushButton*>()) {
                if (button->isDefault() && button->isEnabled()) {
                    button->click();
                    return;
                }
            }
            m_events.clicked(IDOK);
            return;
        }
        default:
            QWidget::keyPressEvent(event);
    }
}

void DialogWidget::closeEvent(QCloseEvent* event) {
    // The dialog decides: its close command ends it through EndDialog.
    event->ignore();
    m_events.close();
}

void DialogWidget::contextMenuEvent(QContextMenuEvent* event) {
    m_events.contextMenu(event->globalPos());
}
