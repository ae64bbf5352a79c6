# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (POSIX threads, as Qt needs).
# SALESTOTALS_WINDOWS_PREFIX is where scripts/windows-toolchain installed Qt and SQLite.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${_mingw}-windres)

# Try-compile projects read this file again; hand the prefix on to them.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES SALESTOTALS_WINDOWS_PREFIX)
set(CMAKE_FIND_ROOT_PATH /usr/${_mingw} ${SALESTOTALS_WINDOWS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

if(SALESTOTALS_WINDOWS_PREFIX)
    list(APPEND CMAKE_PREFIX_PATH ${SALESTOTALS_WINDOWS_PREFIX})
endif()
# moc, rcc and uic come from the Linux Qt of the same version.
if(NOT QT_HOST_PATH)
    set(QT_HOST_PATH /usr)
    set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)
endif()
