# Cross-compiles for 32-bit Windows (the shipped programs) with Debian's MinGW-w64 toolchain.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(triple i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
