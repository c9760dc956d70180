#pragma once

#include <string>

#include "common/MessageList.h"
#include "ui/framework/Controls.h"

// The manager's status lines into a window's list box. The manager reports from busy work's
// worker thread too, which the list box's AddLine allows.
class ListBoxMessageList : public IMessageList {
public:
    explicit ListBoxMessageList(CListBox& list) : m_list(list) {}
    void AddLine(const std::string& text) override { m_list.AddLine(text); }

private:
    CListBox& m_list;
};
