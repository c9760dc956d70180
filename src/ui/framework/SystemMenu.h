#pragma once

#include <string>
#include <vector>

class QPoint;
class QWidget;

// Linux windows have no system menu; a dialog with the system-menu style offers its extra
// entries in the window's context menu instead. Choosing one sends its id as a system command.
class CMenu {
public:
    void AppendSeparator();
    void AppendItem(unsigned id, const std::string& text);
    struct Item {
        unsigned id;  // 0 for a separator
        std::string text;
    };
    std::vector<Item> m_items;
};

// Shows `menu` as the context menu of `window` at `globalPos` until the user chooses or
// dismisses it. The chosen entry's id; 0 when none was chosen or the menu is empty.
unsigned ChooseFromMenu(const CMenu& menu, QWidget* window, const QPoint& globalPos);
