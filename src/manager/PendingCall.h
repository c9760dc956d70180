#pragma once

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
