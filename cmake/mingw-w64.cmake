# The part of the MinGW-w64 cross toolchains that both architectures share; the including file
# sets `triple` and CMAKE_SYSTEM_PROCESSOR.
set(CMAKE_SYSTEM_NAME Windows)

# The win32 thread model: its runtime calls only what Windows XP has, where the POSIX model's
# thread library imports GetTickCount64 (Vista). It has no std::mutex or std::thread in GCC 12;
# nothing here uses them, and GoogleTest gets the one class that does of its own
# (tests/support/gtest-custom).
set(CMAKE_C_COMPILER ${triple}-gcc-win32)
set(CMAKE_CXX_COMPILER ${triple}-g++-win32)
set(CMAKE_RC_COMPILER ${triple}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
