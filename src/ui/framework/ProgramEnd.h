#pragma once

// Ends the program at once with exit status `status`, for a window closed while its work
// waits in a driver that may never return. The log is stopped first, so that every record
// queued so far is in its file. Then the process ends without joining any thread and
// without static destructors or atexit handlers: the driver's and its libraries' own
// clean-up (and Qt's) would run while a thread is still inside the driver.
[[noreturn]] void EndProgramNow(int status);
