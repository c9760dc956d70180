#pragma once

#include <chrono>
#include <functional>
#include <string>

// What a window's busy work waits for, in the program's words: the framework knows nothing
// of what the work calls. Both are called on the user-interface thread while the work runs
// on its worker; an empty function names nothing.
struct BusyWait {
    // The busy indicator's text once the work has run `elapsed`; empty for the general one.
    std::function<std::string(std::chrono::milliseconds elapsed)> indicatorText;
    // What the work waits for now, for the log when the window is closed meanwhile.
    std::function<std::string()> logName;
};
