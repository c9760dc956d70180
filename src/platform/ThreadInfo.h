#pragma once

#include <cstdint>

// The calling thread's id as the system shows it (in ps, top and debuggers).
uint32_t CurrentThreadId();

// Lowers the calling thread's priority one step below the process's, so that its work (the
// log's writing) yields to the program's own.
void LowerCurrentThreadPriority();
