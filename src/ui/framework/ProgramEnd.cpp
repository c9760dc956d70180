#include "ui/framework/ProgramEnd.h"

#include "log/Log.h"
#include "platform/ProcessEnd.h"

void EndProgramNow(int status) {
    LogStop();
    EndProcessNow(status);
}
