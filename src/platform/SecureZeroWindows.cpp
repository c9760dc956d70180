#include "platform/SecureZero.h"

#include <windows.h>

void SecureZero(void* memory, std::size_t size) {
    SecureZeroMemory(memory, size);
}
