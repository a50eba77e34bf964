# Cross build for the controller: 32-bit MIPS little-endian, glibc. Test programs run under
# qemu-user. The defaults are Debian's mipsel-linux-gnu toolchain (mips32r2, o32, hard float
# FPXX); the controller vendor's SDK is chosen with cache variables, not by editing this file:
#
#   RVT_TARGET_TRIPLE   the target (mipsel-linux-gnu); clang's --target
#   RVT_CROSS_PREFIX    what the cross tools' names start with, a path may lead (<triple>-):
#                       <prefix>gcc, g++, ar, ranlib, strip, readelf
#   CMAKE_C_COMPILER, CMAKE_CXX_COMPILER
#                       compilers other than <prefix>gcc/g++, e.g. clang-14/clang++-14, which
#                       then compile for RVT_TARGET_TRIPLE with the binutils of the prefix
#   CMAKE_SYSROOT       the SDK's root of headers and libraries; without it, Debian's cross root
#                       /usr/<triple> and the multiarch folders under / (libjsoncpp-dev:mipsel...)
#   RVT_FLOAT_ABI       hard (-mhard-float, the default) or soft (-msoft-float)
#   RVT_GLIBCXX_USE_CXX11_ABI
#                       1 or 0 for the std::string ABI of the host (0: a host built with the
#                       pre-GCC 5 ABI); empty: the compiler's default
#
# The build checks at configure time that the compiler and the root can build for this.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mipsel)

set(RVT_TARGET_TRIPLE mipsel-linux-gnu CACHE STRING "Target triple of the controller")
set(RVT_CROSS_PREFIX ${RVT_TARGET_TRIPLE}- CACHE STRING "Prefix of the cross tools' names")
set(RVT_FLOAT_ABI hard CACHE STRING "Float ABI of the controller: hard or soft")
set_property(CACHE RVT_FLOAT_ABI PROPERTY STRINGS hard soft)
set(RVT_GLIBCXX_USE_CXX11_ABI "" CACHE STRING "std::string ABI: 1, 0 or empty (the default)")
set_property(CACHE RVT_GLIBCXX_USE_CXX11_ABI PROPERTY STRINGS "" 1 0)
# The same choices in the compiler checks that CMake builds in projects of their own.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES
     RVT_TARGET_TRIPLE RVT_CROSS_PREFIX RVT_FLOAT_ABI RVT_GLIBCXX_USE_CXX11_ABI)

if(NOT RVT_FLOAT_ABI MATCHES "^(hard|soft)$")
  message(FATAL_ERROR "RVT_FLOAT_ABI is '${RVT_FLOAT_ABI}': hard or soft")
endif()
if(NOT RVT_GLIBCXX_USE_CXX11_ABI MATCHES "^[01]?$")
  message(FATAL_ERROR "RVT_GLIBCXX_USE_CXX11_ABI is '${RVT_GLIBCXX_USE_CXX11_ABI}': 1, 0 or empty")
endif()
if(CMAKE_SYSROOT AND NOT IS_DIRECTORY "${CMAKE_SYSROOT}/usr/include")
  message(FATAL_ERROR "CMAKE_SYSROOT ${CMAKE_SYSROOT} has no usr/include: "
                      "not the root of a toolchain's headers and libraries")
endif()

if(NOT CMAKE_C_COMPILER)
  set(CMAKE_C_COMPILER ${RVT_CROSS_PREFIX}gcc)
endif()
if(NOT CMAKE_CXX_COMPILER)
  set(CMAKE_CXX_COMPILER ${RVT_CROSS_PREFIX}g++)
endif()
# Read by clang only; GCC is built for its one target.
set(CMAKE_C_COMPILER_TARGET ${RVT_TARGET_TRIPLE})
set(CMAKE_CXX_COMPILER_TARGET ${RVT_TARGET_TRIPLE})
set(CMAKE_LIBRARY_ARCHITECTURE ${RVT_TARGET_TRIPLE})

# Libraries and package configs come from the SDK's root, or from Debian's cross root and the
# multiarch folders under /; programs run at build time are the host's. Debian's cross root alone
# holds none of the :mipsel -dev packages. The compiler itself looks in the host's /usr/include
# as well: a header installed for the host only is taken from there without a word.
if(NOT CMAKE_SYSROOT)
  list(APPEND CMAKE_FIND_ROOT_PATH /usr/${RVT_TARGET_TRIPLE} /)
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Without 64-bit file offsets a 32-bit readdir under qemu fails with EOVERFLOW on a 64-bit host
# file system and lists nothing. The flags reach the links as well.
set(_rvt_flags "-D_FILE_OFFSET_BITS=64 -m${RVT_FLOAT_ABI}-float")
set(CMAKE_C_FLAGS_INIT "${_rvt_flags}")
set(CMAKE_CXX_FLAGS_INIT "${_rvt_flags}")
if(NOT RVT_GLIBCXX_USE_CXX11_ABI STREQUAL "")
  string(APPEND CMAKE_CXX_FLAGS_INIT " -D_GLIBCXX_USE_CXX11_ABI=${RVT_GLIBCXX_USE_CXX11_ABI}")
endif()
unset(_rvt_flags)

# The cross binutils: archives (the host's ar cannot index MIPS objects), the size report and
# the checks of the shared object. GNU ld is the linker of both compilers: lld refuses the
# .eh_frame relocations of this target.
foreach(tool ar ranlib strip readelf)
  string(TOUPPER ${tool} var)
  find_program(CMAKE_${var} ${RVT_CROSS_PREFIX}${tool})
  if(NOT CMAKE_${var})
    message(FATAL_ERROR "${RVT_CROSS_PREFIX}${tool} not found: set RVT_CROSS_PREFIX to the "
                        "cross tools' prefix (scripts/install-deps.sh --mipsel installs Debian's)")
  endif()
endforeach()

# Test programs run on the target's glibc: the SDK's root, or the multiarch install
# (libc6:mipsel, which the mipsel library packages pull in), whose loader /lib/ld.so.1 matches
# its libc.so.6. With Debian's cross root as prefix, qemu would start that root's older loader,
# which then loads the multiarch libc.so.6 (found first in /lib/mipsel-linux-gnu); that mix
# crashes at dlopen and as soon as a thread starts.
if(CMAKE_SYSROOT)
  set(CMAKE_CROSSCOMPILING_EMULATOR qemu-mipsel;-L;${CMAKE_SYSROOT})
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR qemu-mipsel;-L;/)
endif()
