#pragma once

#include <string>

#include "manager/StatusText.h"

class IMessageList;

// Where a step reports: the log under its caller's source name and, unless it reports to the
// log alone, the user's message list.
class Reporter {
public:
    Reporter(const char* source, IMessageList* list) : m_source(source), m_list(list) {}

    const char* Source() const { return m_source; }
    IMessageList* List() const { return m_list; }
    // A status line for the user; nothing for a reporter to the log alone.
    void Status(const char* line) const { AddStatusLine(m_list, line); }
    // The same source to the log alone: for trials whose findings are not the user's.
    Reporter LogOnly() const { return {m_source, nullptr}; }

private:
    const char* m_source;
    IMessageList* m_list;
};
