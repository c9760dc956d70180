#pragma once

#include <cstdint>

class CDialogEx;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

// The system command of the window's close box.
constexpr unsigned SC_CLOSE = 0xF060;

// Message maps: static tables that route control notifications to member handlers.

// ItemChanged: the selected row of a table changed (by the user or the program).
enum class Notification { End, Clicked, SelChange, ItemChanged, SysCommand };

using CommandHandler = void (CDialogEx::*)();
using SysCommandHandler = void (CDialogEx::*)(unsigned id, intptr_t param);

struct MessageMapEntry {
    Notification notification;
    int controlId;
    CommandHandler command;
    SysCommandHandler sysCommand;
};

struct MessageMap {
    const MessageMap* base;
    const MessageMapEntry* entries;
};

#define DECLARE_MESSAGE_MAP()                     \
protected:                                        \
    static const MessageMap* GetThisMessageMap(); \
    const MessageMap* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)          \
    const MessageMap* theClass::GetMessageMap() const { \
        return GetThisMessageMap();                     \
    }                                                   \
    const MessageMap* theClass::GetThisMessageMap() {   \
        using ThisClass [[maybe_unused]] = theClass;    \
        using TheBaseClass = baseClass;                 \
        static const MessageMapEntry entries[] = {
#define ON_BN_CLICKED(id, handler) \
    {Notification::Clicked, id, static_cast<CommandHandler>(handler), nullptr},
#define ON_CBN_SELCHANGE(id, handler) \
    {Notification::SelChange, id, static_cast<CommandHandler>(handler), nullptr},
#define ON_LVN_ITEMCHANGED(id, handler) \
    {Notification::ItemChanged, id, static_cast<CommandHandler>(handler), nullptr},
#define ON_WM_SYSCOMMAND()                 \
    {Notification::SysCommand, 0, nullptr, \
     static_cast<SysCommandHandler>(&ThisClass::OnSysCommand)},
#define END_MESSAGE_MAP()                                                       \
    { Notification::End, 0, nullptr, nullptr }                                  \
    }                                                                           \
    ;                                                                           \
    static const MessageMap map = {TheBaseClass::GetThisMessageMap(), entries}; \
    return &map;                                                                \
    }
