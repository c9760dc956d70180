#include "platform/SecureZero.h"

#include <string.h>  // explicit_bzero

void SecureZero(void* memory, std::size_t size) {
    explicit_bzero(memory, size);
}
