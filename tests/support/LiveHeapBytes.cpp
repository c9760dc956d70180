#include "support/LiveHeapBytes.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// The sanitizers' runtimes export it; GCC ships no header that declares it.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

std::size_t LiveHeapBytes() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // The sanitizers bring their own allocator, which glibc's counters do not see.
    return __sanitizer_get_current_allocated_bytes();
#else
    // glibc: the main arena's blocks, where the test's main thread allocates, and the blocks
    // mapped on their own (large ones).
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
#endif
}
