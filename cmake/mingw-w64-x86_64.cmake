# Cross build for 64-bit Windows with MinGW-w64 (Debian: g++-mingw-w64-x86-64).
# The posix thread flavour gives the tests std::thread; everything is linked
# statically so the .exe files run on a bare Windows without extra DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(HERDLAB_MINGW_PREFIX x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${HERDLAB_MINGW_PREFIX}-gcc-posix ${HERDLAB_MINGW_PREFIX}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${HERDLAB_MINGW_PREFIX}-g++-posix ${HERDLAB_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${HERDLAB_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${HERDLAB_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Programs built for Windows run under Wine when CMake or CTest needs to run them.
find_program(HERDLAB_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(HERDLAB_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${HERDLAB_WINE})
endif()
