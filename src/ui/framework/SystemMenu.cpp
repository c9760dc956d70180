#include "ui/framework/SystemMenu.h"

#include <QAction>
#include <QMenu>

#include "ui/framework/QtText.h"

void CMenu::AppendSeparator() {
    m_items.push_back({0, {}});
}

void CMenu::AppendItem(unsigned id, const std::string& text) {
    m_items.push_back({id, text});
}

unsigned ChooseFromMenu(const CMenu& menu, QWidget* window, const QPoint& globalPos) {
    QMenu popup(window);
    for (const CMenu::Item& item : menu.m_items) {
        if (item.id == 0) {
            popup.addSeparator();
        } else {
            popup.addAction(ToQ(item.text))->setData(item.id);
        }
    }
    if (popup.actions().isEmpty()) {
        return 0;
    }
    QAction* chosen = popup.exec(globalPos);
    return chosen != nullptr ? chosen->data().toUInt() : 0;
}
