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
# The C library must come from the sysroot, matching its loader; the loader
# would otherwise take Debian's multiarch libc6:mipsel from /lib/mipsel-linux-gnu
# (pulled in by the -dev packages below), a different build of glibc. Other
# libraries still come from the multiarch folders.
set(CMAKE_CROSSCOMPILING_EMULATOR ${QEMU_MIPSEL} -L ${MIPSEL_SYSROOT} -E LD_LIBRARY_PATH=/lib)

# Libraries the emulator links (FreeType, libpng, zlib) are Debian's multiarch
# packages (libfreetype-dev:mipsel libpng-dev:mipsel zlib1g-dev:mipsel): found
# in /usr/lib/mipsel-linux-gnu, with headers in /usr/include and
# /usr/include/mipsel-linux-gnu, which the cross compiler searches already.
set(CMAKE_LIBRARY_ARCHITECTURE mipsel-linux-gnu)
set(CMAKE_FIND_ROOT_PATH ${MIPSEL_SYSROOT} /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
