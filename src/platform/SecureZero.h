#pragma once

#include <cstddef>

// Overwrites `size` bytes at `memory` with zeros in a way the compiler cannot drop, even when
// the memory is never read again.
void SecureZero(void* memory, std::size_t size);
