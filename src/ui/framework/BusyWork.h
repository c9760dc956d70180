#pragma once

#include <cstdint>
#include <functional>

#include "ui/framework/BusyWait.h"

class CListBox;
class QWidget;

// The result of busy work that ended by an exception: SCARD_F_INTERNAL_ERROR.
constexpr uint32_t kBusyWorkFailed = 0x80100001;

// Runs `work` on a worker thread while this thread goes on handling events, so that every
// window keeps painting. Meanwhile no input reaches any window, the cursor shows that the
// program is busy, `window` shows a BusyIndicator naming what `wait` says the work waits
// for, and the lines that the work adds to
// `statusList` are shown as they come. Returns the work's result; when the work throws,
// whatever it throws, the exception is logged and reported as a line of `statusList`, and
// the result is kBusyWorkFailed. Closing `window` meanwhile (its close box or Escape) ends
// the program at once (EndProgramNow), logging what `wait` names: the work may be stuck in a
// call that never returns, and nothing can stop it.
//
// The worker and this thread share only what the standard library synchronises (an atomic
// flag, the list box's locked queue, the join), never a Qt object: Qt's own cross-thread
// hand-over is invisible to ThreadSanitizer.
uint32_t RunBusyWork(QWidget* window, const BusyWait& wait, CListBox& statusList,
                     const std::function<uint32_t()>& work);
