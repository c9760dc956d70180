# What the two mingw-w64 toolchain files share; they set LUMIDOR_MINGW_TRIPLET and LUMIDOR_WINE.
set(CMAKE_SYSTEM_NAME Windows)
string(REGEX REPLACE "-.*" "" CMAKE_SYSTEM_PROCESSOR ${LUMIDOR_MINGW_TRIPLET})

# The -posix compilers: the -win32 thread model has no std::thread nor std::mutex.
set(CMAKE_C_COMPILER ${LUMIDOR_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LUMIDOR_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${LUMIDOR_MINGW_TRIPLET}-windres)

# Headers and libraries come from the mingw-w64 tree and the prefixes given in
# CMAKE_FIND_ROOT_PATH (the dependencies built into the build tree), never from the host.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${LUMIDOR_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs that need no DLL beside them: the compiler's runtime and winpthread linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# libstdc++ 12's counting_semaphore loses wake-ups on mingw unless it uses the POSIX
# semaphores of winpthread. Set for every language and dependency built with this file, since
# the choice changes the semaphores' layout.
# A 64-bit time_t on i686 too (x86_64 has it already), so that certificate dates after 2038
# are times.
set(CMAKE_C_FLAGS_INIT "-D_GLIBCXX_USE_POSIX_SEMAPHORE=1 -D__MINGW_USE_VC2005_COMPAT")
set(CMAKE_CXX_FLAGS_INIT "-D_GLIBCXX_USE_POSIX_SEMAPHORE=1 -D__MINGW_USE_VC2005_COMPAT")

set(CMAKE_CROSSCOMPILING_EMULATOR ${LUMIDOR_WINE})
