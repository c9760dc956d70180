#pragma once

#include <cstddef>

// The bytes of the blocks that malloc has handed out and that are not yet freed, as the
// allocator in use counts them: a test sees a release as these going down.
std::size_t LiveHeapBytes();
