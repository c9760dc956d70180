#pragma once

// The ways a user ends a console program from outside: an interrupt (Ctrl-C, Ctrl-\), a request
// to terminate, or its terminal closed.

// Called with the exit status that tells how the program was ended: 128 + the number of the
// signal (SIGINT, SIGTERM, SIGHUP, SIGQUIT).
using EndHandler = void (*)(int status);

// Runs `onEnd` on a thread of its own each time the program is asked to end, whatever its
// other threads are doing (one may be stuck in a call that never returns). Nothing of it runs
// in a signal handler, so `onEnd` may take locks and wait; ending the process is its own
// choice.
//
// Called before any other thread starts: the signals are blocked in the calling thread and so
// in every thread started after it, and only the thread of `onEnd` takes them.
void HandleEndSignals(EndHandler onEnd);
