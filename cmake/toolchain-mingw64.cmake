# Cross build for 64-bit Windows (x86_64) with Debian's mingw-w64; the tests run under wine64.
set(LUMIDOR_MINGW_TRIPLET x86_64-w64-mingw32)
set(LUMIDOR_WINE /usr/lib/wine/wine64)
include(${CMAKE_CURRENT_LIST_DIR}/MingwToolchain.cmake)
