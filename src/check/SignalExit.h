#pragma once

// Makes SIGINT, SIGTERM, SIGHUP and SIGQUIT end the program from a thread of its own,
// whatever the other threads are doing (the main thread may be stuck in a driver call that
// never returns): the log is stopped, so that every record queued so far is in the file,
// the terminal's echo is restored when the PIN prompt had it off, and the process ends with
// 128 + the signal's number. Nothing of this runs in a signal handler.
//
// Called first in main: the signals are blocked in the calling thread and so in every
// thread started after it, and only the signal thread takes them (sigwait).
void EndOnSignals();
