# Cross-compiles tangler.exe for 64-bit Windows with MinGW-w64:
#   cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# The -posix compilers bring std::thread and friends (GoogleTest needs them);
# -static puts the C++ and threading run-times inside the .exe, so it needs no
# DLL beyond those Windows itself has. RE2, for tangler-site, is built for
# the target with the same compiler while configuring (CMakeLists.txt calls
# scripts/build-re2-mingw.sh).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TANGLER_MINGW_TRIPLET x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${TANGLER_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TANGLER_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TANGLER_MINGW_TRIPLET}-windres)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

set(CMAKE_FIND_ROOT_PATH /usr/${TANGLER_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests run under Wine when it is there (ctest, gtest discovery), by its
# 64-bit loader: Debian's "wine" wrapper picks the 32-bit one whenever wine32
# is installed.
find_program(TANGLER_WINE NAMES wine64 wine PATHS /usr/lib/wine)
if(TANGLER_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TANGLER_WINE})
endif()
