# Cross build for 64-bit Windows with Debian's mingw-w64 (g++-mingw-w64-x86-64).
# The posix thread model is required: the win32 one has no std::mutex or
# std::thread. How programs link the MinGW runtime is set in QrtBuild.cmake.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QRT_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QRT_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QRT_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QRT_MINGW_TRIPLET}-windres)

# Headers and libraries come from the mingw sysroot and the cross prefix of
# GoogleTest, CLI11 and nlohmann-json (QRT_WINDOWS_DEPS), never from /usr.
set(CMAKE_FIND_ROOT_PATH /usr/${QRT_MINGW_TRIPLET})
if(QRT_WINDOWS_DEPS)
  list(APPEND CMAKE_FIND_ROOT_PATH ${QRT_WINDOWS_DEPS})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The host's pkg-config would report the Linux nettle, inih and udev.
set(ENV{PKG_CONFIG_LIBDIR} "")
set(ENV{PKG_CONFIG_PATH} "")

# Tests run under wine when it is there (scripts/test-windows.sh), through a
# wrapper that starts a program once more when wine ended it before its
# first line.
find_program(QRT_WINE_PROGRAM NAMES wine wine64)
if(QRT_WINE_PROGRAM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
endif()
