#pragma once

#include <chrono>
#include <string>

// What a manager operation is waiting for in a driver module right now, so that a busy window
// can name a driver that does not answer. Written by the operation's thread, read from any.

// The name of the module call in progress ("C_Initialize", ...), or null when there is none.
const char* PendingModuleCall();

// Makes `name` (a text with static storage) the call in progress for the object's lifetime.
class PendingCallScope {
public:
    explicit PendingCallScope(const char* name);
    ~PendingCallScope();
    PendingCallScope(const PendingCallScope&) = delete;
    PendingCallScope& operator=(const PendingCallScope&) = delete;

private:
    const char* m_previous;
};

// The driver module being started (loaded, or asked for its function list and initialised)
// and since when; an empty name when none is. A real card's module binds its card as it
// starts, which can take seconds: a busy window then names the module.
struct ModuleStart {
    std::string name;
    std::chrono::steady_clock::time_point since;
};
ModuleStart StartingModule();

// Makes `name` the module being started for the object's lifetime.
class StartingModuleScope {
public:
    explicit StartingModuleScope(const std::string& name);
    ~StartingModuleScope();
    StartingModuleScope(const StartingModuleScope&) = delete;
    StartingModuleScope& operator=(const StartingModuleScope&) = delete;

private:
    ModuleStart m_previous;
};
