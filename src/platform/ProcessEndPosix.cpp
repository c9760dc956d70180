#include "platform/ProcessEnd.h"

#include <unistd.h>

void EndProcessNow(int status) {
    _exit(status);
}
