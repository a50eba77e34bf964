# What the compiler and, in a cross build, the target's root must offer; checked at configure
# time so that a toolchain that cannot build the plugin says so before the build starts.

# Without a build type the plugin would be built unoptimised, at three times its size: a plain
# configure gets the presets' one.
if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
  set(CMAKE_BUILD_TYPE RelWithDebInfo CACHE STRING "Build type" FORCE)
endif()

# C++17 as the language: GCC 7 and clang 5 are the first that have it all. The repository is
# built and tested with GCC 12 and clang 14.
set(_rvt_cxx17_GNU 7)
set(_rvt_cxx17_Clang 5)
set(_rvt_min ${_rvt_cxx17_${CMAKE_CXX_COMPILER_ID}})
if(_rvt_min AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS _rvt_min)
  message(FATAL_ERROR "${CMAKE_CXX_COMPILER} is ${CMAKE_CXX_COMPILER_ID} "
                      "${CMAKE_CXX_COMPILER_VERSION}: the plugin is C++17, which needs GCC 7 or "
                      "clang 5 at least")
endif()
unset(_rvt_min)
unset(_rvt_cxx17_GNU)
unset(_rvt_cxx17_Clang)

# A C++ program with the C and C++ library headers builds for the target, and its link does not
# mix float ABIs (GNU ld only warns about that). Debian's mipsel root is hard float only: soft
# float needs the controller SDK's root in CMAKE_SYSROOT.
if(CMAKE_CROSSCOMPILING)
  set(_rvt_dir ${CMAKE_BINARY_DIR}/CMakeFiles/rvt-target-check)
  file(WRITE ${_rvt_dir}/target.cpp [[
#include <cstdio>
#include <string>
int main(int argc, char**) { std::string s(static_cast<std::size_t>(argc), 'x'); return std::puts(s.c_str()) < 0; }
]])
  try_compile(_rvt_target_ok ${_rvt_dir}/build ${_rvt_dir}/target.cpp
              LINK_OPTIONS -Wl,--fatal-warnings OUTPUT_VARIABLE _rvt_output)
  if(NOT _rvt_target_ok)
    if(CMAKE_SYSROOT)
      set(_rvt_root "the root ${CMAKE_SYSROOT}")
    else()
      set(_rvt_root "Debian's cross root /usr/${RVT_TARGET_TRIPLE} (no CMAKE_SYSROOT given)")
    endif()
    string(REGEX MATCHALL "[^\n]*(error|warning)[^\n]*" _rvt_lines "${_rvt_output}")
    list(SUBLIST _rvt_lines 0 3 _rvt_lines)
    list(JOIN _rvt_lines "\n  " _rvt_lines)
    message(FATAL_ERROR "${CMAKE_CXX_COMPILER} cannot build a C++ program for "
      "${RVT_TARGET_TRIPLE} with RVT_FLOAT_ABI=${RVT_FLOAT_ABI} against ${_rvt_root}:\n  "
      "${_rvt_lines}\nThe root needs the C library, its headers and libstdc++ built for that "
      "float ABI; give the controller SDK's root with -DCMAKE_SYSROOT=DIR.")
  endif()
  unset(_rvt_dir)
  unset(_rvt_output)
endif()
