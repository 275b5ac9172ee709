# Cross-building vorlo.exe for 64-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-x86-64):
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release
# The posix thread model compilers: the win32 model of GCC 12 has no std::thread or
# std::mutex, which the daemon and the gang need.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VORLO_MINGW_PREFIX x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${VORLO_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VORLO_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VORLO_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VORLO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run under Wine (ctest, gtest_discover_tests).
find_program(VORLO_WINE NAMES wine wine64)
if(VORLO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VORLO_WINE})
endif()
