# Cross build of the Windows executable with MinGW-w64 (Debian packages
# g++-mingw-w64-x86-64-posix and mingw-w64). The runtime is linked statically,
# so quarvel.exe needs no DLLs beside it; tests run through Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUARVEL_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUARVEL_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUARVEL_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QUARVEL_MINGW_PREFIX}-windres)

# Look for libraries and packages only in the MinGW tree, never the host's
# (the host's GoogleTest is a Linux library).
set(CMAKE_FIND_ROOT_PATH /usr/${QUARVEL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# CTest (and the test discovery) run the .exe files through Wine, in a Wine
# prefix of the build folder, quietly.
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      env WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix WINEDEBUG=-all "WINEDLLOVERRIDES=mscoree,mshtml="
          LC_ALL=C.UTF-8 wine
      CACHE STRING "Runs a Windows program on this machine")
endif()
