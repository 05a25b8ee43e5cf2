# Cross build for Windows on x86-64, from a Debian or Ubuntu host (package
# g++-mingw-w64-x86-64-posix). lindrel.exe is linked statically: the C++
# runtime and the threads library are inside it, so it needs no DLL beside
# it, only those that come with Windows.
#
#   cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/x86_64-w64-mingw32.cmake -DLINDREL_TESTS=OFF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
find_program(LINDREL_WINE NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(LINDREL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${LINDREL_WINE})
endif()
