#include "platform/StandardInput.h"

#include <unistd.h>

bool ReadStandardInputByte(char& byte) {
    return read(STDIN_FILENO, &byte, 1) == 1;
}
