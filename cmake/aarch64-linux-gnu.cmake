# Cross build for Linux on AArch64, from an x86-64 Debian or Ubuntu host
# (package g++-aarch64-linux-gnu). The program is linked statically, so it
# runs on any AArch64 Linux, and here under qemu-aarch64.
#
#   cmake -S . -B build/aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake -DLINDREL_TESTS=OFF
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# test programs run under the emulator
find_program(LINDREL_QEMU qemu-aarch64)
if(LINDREL_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${LINDREL_QEMU})
endif()
