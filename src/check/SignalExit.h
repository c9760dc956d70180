#pragma once

// Makes SIGINT, SIGTERM, SIGHUP and SIGQUIT (platform/EndSignals.h) end the program from a
// thread of its own, whatever the other threads are doing (the main thread may be stuck in a
// driver call that never returns): the log is stopped, so that every record queued so far is
// in the file, the terminal's echo is restored when the PIN prompt had it off, and the
// process ends with 128 + the signal's number. Nothing of this runs in a signal handler.
//
// Called first in main, before any other thread starts.
void EndOnSignals();
