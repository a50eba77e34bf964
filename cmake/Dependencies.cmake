# Third-party packages, all from Debian.
set(Boost_NO_WARN_NEW_VERSIONS ON)
find_package(Boost 1.74 REQUIRED)           # Date_Time and Lexical_Cast are header-only here
find_package(jsoncpp REQUIRED)              # settings objects
find_package(fmt REQUIRED)                  # "{}" formatting of log lines
find_package(Threads REQUIRED)              # the host's work-item thread

if(TARGET jsoncpp_lib)
  set(RVT_JSONCPP jsoncpp_lib)
else()
  set(RVT_JSONCPP jsoncpp_static)
endif()
# The host brings jsoncpp: the plugin compiles against its headers only and leaves its symbols to
# the loading program. What makes a program (the stand-in host, the tests) links the library.
add_library(rvt_jsoncpp_headers INTERFACE)
target_include_directories(rvt_jsoncpp_headers SYSTEM INTERFACE
                           $<TARGET_PROPERTY:${RVT_JSONCPP},INTERFACE_INCLUDE_DIRECTORIES>)

# 64-bit atomics: on 32-bit MIPS they are calls into libatomic. Whatever links the thread library
# (the stand-in host, the simulator; not the plugin) gets libatomic with it where it is needed.
include(CheckCXXSourceCompiles)
set(_rvt_atomic_test [[
#include <atomic>
#include <cstdint>
std::atomic<uint64_t> n{0};
int main() { return static_cast<int>(++n); }
]])
check_cxx_source_compiles("${_rvt_atomic_test}" RVT_ATOMIC64_BUILTIN)
if(NOT RVT_ATOMIC64_BUILTIN)
  set(CMAKE_REQUIRED_LIBRARIES atomic)
  check_cxx_source_compiles("${_rvt_atomic_test}" RVT_ATOMIC64_LIBATOMIC)
  unset(CMAKE_REQUIRED_LIBRARIES)
  if(NOT RVT_ATOMIC64_LIBATOMIC)
    message(FATAL_ERROR "64-bit atomics need libatomic, which was not found")
  endif()
  set_property(TARGET Threads::Threads APPEND PROPERTY INTERFACE_LINK_LIBRARIES atomic)
endif()
unset(_rvt_atomic_test)
