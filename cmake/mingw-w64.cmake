# Cross build for 64-bit Windows with Debian's mingw-w64 (g++-mingw-w64-x86-64).
#   cmake -S . -B build-mingw -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
#
# The -posix flavour of the compiler: the core runs the loader on a std::thread and guards the console
# with a std::mutex, which the -win32 flavour lacks. Everything is linked statically, so the .exe needs
# no runtime DLLs beside it, on Windows or under wine. Tests run under wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VEXAL_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VEXAL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VEXAL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VEXAL_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VEXAL_MINGW_TRIPLE})
# Libraries cross-built for this target outside the system root (GoogleTest, by win32-build.sh).
if(VEXAL_MINGW_EXTRA_ROOT)
  list(APPEND CMAKE_FIND_ROOT_PATH ${VEXAL_MINGW_EXTRA_ROOT})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Debian's /usr/bin/wine prefers the 32-bit loader, which cannot run on a kernel without 32-bit
# support; the 64-bit loader runs our 64-bit programs on either. wine-run.sh repeats a run whose only
# fault was the loader's own exit.
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  if(EXISTS /usr/lib/wine/wine64)
    set(VEXAL_WINE /usr/lib/wine/wine64)
  else()
    find_program(VEXAL_WINE NAMES wine64 wine)
  endif()
  if(VEXAL_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh ${VEXAL_WINE})
  endif()
endif()
