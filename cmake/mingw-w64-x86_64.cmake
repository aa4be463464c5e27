# Cross build for 64-bit Windows with Debian's MinGW-w64 (the posix thread
# model, which std::thread needs). Used by scripts/build-windows.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(RAZERE_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${RAZERE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${RAZERE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${RAZERE_MINGW_TRIPLE}-windres)

# Libraries come from the MinGW sysroot only; programs (pkg-config, wine)
# from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${RAZERE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One .exe to copy onto a server: the C and C++ runtimes and winpthread
# linked in, no DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests run under Wine on the build machine.
find_program(RAZERE_WINE wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(RAZERE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${RAZERE_WINE})
endif()
