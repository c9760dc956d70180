#pragma once

#include <chrono>

#include "ui/framework/BusyWait.h"

// What the manager's work waits for in a driver module, for a busy window. Its indicator
// names the call in progress once the work has run `nameCallAfter` ("In attesa del driver
// (C_Login)..."), kept current as the work goes from call to call. A module whose start
// lasts longer than `nameStartAfter` is named whatever the work's age ("In attesa dell'avvio
// del driver 'x.so'..."), and with the call once that is named too ("In attesa del driver
// 'x.so' (C_Initialize)..."). The log names the call in progress.
BusyWait DriverWait(std::chrono::milliseconds nameCallAfter,
                    std::chrono::milliseconds nameStartAfter);
