# Cross build for the receiver's CPU: 32-bit little-endian MIPS (mips32).
# ctest runs every test binary under qemu-user with the Debian mipsel sysroot.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mipsel)

set(MIPSEL_PREFIX mipsel-linux-gnu-)
set(MIPSEL_SYSROOT /usr/mipsel-linux-gnu)

find_program(MIPSEL_GXX ${MIPSEL_PREFIX}g++)
find_program(MIPSEL_GCC ${MIPSEL_PREFIX}gcc)
if(NOT MIPSEL_GXX OR NOT MIPSEL_GCC)
  message(FATAL_ERROR "mipsel cross compiler not found: apt-get install g++-mipsel-linux-gnu")
endif()
find_program(QEMU_MIPSEL qemu-mipsel)
if(NOT QEMU_MIPSEL)
  message(FATAL_ERROR "qemu-mipsel not found: apt-get install qemu-user")
endif()

set(CMAKE_C_COMPILER ${MIPSEL_GCC})
set(CMAKE_CXX_COMPILER ${MIPSEL_GXX})
set(CMAKE_C_FLAGS_INIT "-march=mips32")
set(CMAKE_CXX_FLAGS_INIT "-march=mips32")
set(CMAKE_CROSSCOMPILING_EMULATOR ${QEMU_MIPSEL} -L ${MIPSEL_SYSROOT})

set(CMAKE_FIND_ROOT_PATH ${MIPSEL_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
