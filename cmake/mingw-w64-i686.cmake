# Cross-compiles tangler.exe for 32-bit Windows with MinGW-w64:
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
# The -posix compilers bring std::thread and friends (GoogleTest needs them);
# -static puts the C++ and threading run-times inside the .exe, so it needs no
# DLL beyond those Windows itself has. RE2, for tangler-site, is built for
# the target with the same compiler while configuring (CMakeLists.txt calls
# scripts/build-re2-mingw.sh).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TANGLER_MINGW_TRIPLET i686-w64-mingw32)

set(CMAKE_C_COMPILER ${TANGLER_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TANGLER_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TANGLER_MINGW_TRIPLET}-windres)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

set(CMAKE_FIND_ROOT_PATH /usr/${TANGLER_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests run under Wine when it is there (ctest, gtest discovery).
find_program(TANGLER_WINE NAMES wine)
if(TANGLER_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TANGLER_WINE})
endif()
