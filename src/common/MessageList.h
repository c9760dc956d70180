#pragma once

#include <string>
#include <vector>

// Where the manager's status lines go: the main window's list box, or a list in memory.
class IMessageList {
public:
    virtual ~IMessageList() = default;
    virtual void AddLine(const std::string& text) = 0;
};

// Lines kept in order, for tests and the console check.
class MemoryMessageList : public IMessageList {
public:
    void AddLine(const std::string& text) override;
    std::vector<std::string> lines;
};
