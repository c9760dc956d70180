# Cross build for 32-bit Windows (i686) with Debian's mingw-w64; the tests run under the
# 32-bit Wine of wine32:i386 (wine64 alone would run them silently, printing nothing).
set(LUMIDOR_MINGW_TRIPLET i686-w64-mingw32)
set(LUMIDOR_WINE /usr/lib/wine/wine)
include(${CMAKE_CURRENT_LIST_DIR}/MingwToolchain.cmake)
