#include "common/MessageList.h"

void MemoryMessageList::AddLine(const std::string& text) {
    lines.push_back(text);
}
