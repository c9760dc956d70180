#include "ui/framework/ProgramEnd.h"

#include <unistd.h>

#include "log/Log.h"

void EndProgramNow(int status) {
    LogStop();
    _exit(status);
}
