#pragma once

// Ends the process at once with exit status `status`: without joining any thread and
// without static destructors or atexit handlers, for a thread that may be stuck where their
// clean-up would wait or break.
[[noreturn]] void EndProcessNow(int status);
