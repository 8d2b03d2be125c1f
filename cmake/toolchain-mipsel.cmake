# Cross build for the receiver's CPU: 32-bit little-endian MIPS (mips32).
# ctest runs every test binary under qemu-user.
#
# Two folders make up the target's libraries: the cross compiler's own C
# library, libgcc and libstdc++ (/usr/mipsel-linux-gnu, from the
# g++-mipsel-linux-gnu packages), and the emulator's FreeType, libpng and zlib
# for mipsel, unpacked from Debian's packages into a private folder by
# scripts/mipsel-sysroot.sh (nothing of them is installed on the PC). The
# plug-in itself needs neither: it links no library.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mipsel)

set(MIPSEL_PREFIX mipsel-linux-gnu-)
set(MIPSEL_SYSROOT /usr/mipsel-linux-gnu)
get_filename_component(BRIMVALE_MIPSEL_LIBS "${CMAKE_CURRENT_LIST_DIR}/../.deps/mipsel-sysroot" ABSOLUTE)
if(DEFINED ENV{BRIMVALE_MIPSEL_LIBS})
  set(BRIMVALE_MIPSEL_LIBS "$ENV{BRIMVALE_MIPSEL_LIBS}")
endif()

find_program(MIPSEL_GXX ${MIPSEL_PREFIX}g++)
find_program(MIPSEL_GCC ${MIPSEL_PREFIX}gcc)
if(NOT MIPSEL_GXX OR NOT MIPSEL_GCC)
  message(FATAL_ERROR "mipsel cross compiler not found: scripts/install-deps.sh --test (apt-get install g++-mipsel-linux-gnu)")
endif()
find_program(QEMU_MIPSEL qemu-mipsel)
if(NOT QEMU_MIPSEL)
  message(FATAL_ERROR "qemu-mipsel not found: scripts/install-deps.sh --test (apt-get install qemu-user)")
endif()

set(CMAKE_C_COMPILER ${MIPSEL_GCC})
set(CMAKE_CXX_COMPILER ${MIPSEL_GXX})
set(BRIMVALE_MIPSEL_FLAGS "-march=mips32 -isystem ${BRIMVALE_MIPSEL_LIBS}/usr/include/mipsel-linux-gnu")
set(CMAKE_C_FLAGS_INIT "${BRIMVALE_MIPSEL_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${BRIMVALE_MIPSEL_FLAGS}")
# libfreetype.so needs libpng and libbrotli, libpng needs libz: the linker
# finds them there, and only there.
set(BRIMVALE_MIPSEL_LINK
  "-Wl,-rpath-link,${BRIMVALE_MIPSEL_LIBS}/usr/lib/mipsel-linux-gnu -Wl,-rpath-link,${BRIMVALE_MIPSEL_LIBS}/lib/mipsel-linux-gnu")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${BRIMVALE_MIPSEL_LINK}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${BRIMVALE_MIPSEL_LINK}")

# The loader and the C library come from the cross compiler's folder (-L: qemu
# looks there first for every path the program opens); the screen's libraries
# from the private folder, by their real paths.
set(CMAKE_CROSSCOMPILING_EMULATOR ${QEMU_MIPSEL} -L ${MIPSEL_SYSROOT}
    -E LD_LIBRARY_PATH=/lib:${BRIMVALE_MIPSEL_LIBS}/usr/lib/mipsel-linux-gnu:${BRIMVALE_MIPSEL_LIBS}/lib/mipsel-linux-gnu)

set(CMAKE_LIBRARY_ARCHITECTURE mipsel-linux-gnu)
set(CMAKE_FIND_ROOT_PATH ${BRIMVALE_MIPSEL_LIBS} ${MIPSEL_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
