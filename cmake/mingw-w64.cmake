# Cross-builds hudconv.exe for 64-bit Windows with Debian's MinGW-w64
# (package g++-mingw-w64-x86-64-posix), and runs what it builds under Wine.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C and C++ runtimes linked in, so that the .exe runs with nothing else
# installed.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# Wine, when present, runs the tests: a prefix of the build's own, and none
# of Wine's diagnostics mixed into what the programs print.
find_program(HUDCONV_WINE NAMES wine64 wine PATHS /usr/lib/wine)
find_program(HUDCONV_WINESERVER NAMES wineserver PATHS /usr/lib/wine)
if(HUDCONV_WINE)
  set(HUDCONV_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      ${CMAKE_COMMAND} -E env WINEDEBUG=-all WINEPREFIX=${HUDCONV_WINEPREFIX}
      ${HUDCONV_WINE})
endif()
