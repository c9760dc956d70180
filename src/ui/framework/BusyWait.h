#pragma once

#include <chrono>
#include <functional>
#include <string>

// What busy work that has run `elapsed` waits for, as the busy indicator shows it; empty for
// the indicator's general text.
using AwaitedText = std::function<std::string(std::chrono::milliseconds elapsed)>;

// What a window's busy work waits for, in the program's words: the framework knows nothing
// of what the work calls. Both are called on the user-interface thread while the work runs
// on its worker; an empty function names nothing.
struct BusyWait {
    AwaitedText indicatorText;
    // What the work waits for now, for the log when the window is closed meanwhile.
    std::function<std::string()> logName;
};
