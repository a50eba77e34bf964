# Cross build for the controller: 32-bit MIPS little-endian (mips32r2, o32, hard float, glibc),
# with Debian's mipsel-linux-gnu toolchain. Test programs run under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mipsel)

set(RVT_CROSS_TRIPLE mipsel-linux-gnu)
set(RVT_CROSS_ROOT /usr/${RVT_CROSS_TRIPLE})

set(CMAKE_C_COMPILER ${RVT_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${RVT_CROSS_TRIPLE}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${RVT_CROSS_TRIPLE})

# Libraries and package configs come from the cross root and from the multiarch folders under /
# (libjsoncpp-dev:mipsel and the like); programs run at build time are the host's.
set(CMAKE_FIND_ROOT_PATH ${RVT_CROSS_ROOT} /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Without 64-bit file offsets a 32-bit readdir under qemu fails with EOVERFLOW on a 64-bit host
# file system and lists nothing.
set(CMAKE_C_FLAGS_INIT "-D_FILE_OFFSET_BITS=64")
set(CMAKE_CXX_FLAGS_INIT "-D_FILE_OFFSET_BITS=64")

# The cross binutils, for the size report and the exported-symbol check.
find_program(CMAKE_READELF ${RVT_CROSS_TRIPLE}-readelf REQUIRED)
find_program(CMAKE_STRIP ${RVT_CROSS_TRIPLE}-strip REQUIRED)

# Test programs run on the mipsel glibc of the multiarch install (libc6:mipsel, which the mipsel
# library packages pull in): its loader /lib/ld.so.1 matches its libc.so.6. With the cross root as
# prefix, qemu would start the cross root's older loader, which then loads the multiarch libc.so.6
# (found first in /lib/mipsel-linux-gnu); that mix crashes as soon as a thread starts.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-mipsel;-L;/)
