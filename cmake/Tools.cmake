# The parts beyond the plugin that need more libraries: the bench tools (zelhost, rvt2600-sim:
# CLI11 and SQLite) and the test programs (GoogleTest). Natively they are required. In a cross
# build whatever has no library for the target is left out, with one line that says so, and the
# plugin and the rest build: a plain configure with the toolchain file works.
set(_rvt_left_out "")

# With the std::string ABI chosen for an old host, the tests and the tools link jsoncpp (and
# GoogleTest) themselves: the target's must have been built with that ABI too.
if(CMAKE_CROSSCOMPILING AND NOT RVT_GLIBCXX_USE_CXX11_ABI STREQUAL ""
   AND (RVT_BUILD_TESTS OR RVT_BUILD_TOOLS))
  set(_rvt_dir ${CMAKE_BINARY_DIR}/CMakeFiles/rvt-string-abi-check)
  file(WRITE ${_rvt_dir}/abi.cpp [[
#include <json/json.h>
int main() { return static_cast<int>(Json::Value("x").asString().size()); }
]])
  try_compile(_rvt_abi_ok ${_rvt_dir}/build ${_rvt_dir}/abi.cpp LINK_LIBRARIES ${RVT_JSONCPP})
  if(NOT _rvt_abi_ok)
    list(APPEND _rvt_left_out "the tests and the bench tools (jsoncpp of another std::string ABI)")
    set(RVT_BUILD_TESTS OFF)
    set(RVT_BUILD_TOOLS OFF)
  endif()
  unset(_rvt_dir)
endif()
# SQLite for the target is unpacked by hand into a build-local root (the mipsel preset points
# there): a folder that is not there yet would otherwise fail deep inside FindSQLite3.
if(RVT_BUILD_TOOLS AND CMAKE_CROSSCOMPILING AND SQLite3_INCLUDE_DIR
   AND NOT EXISTS "${SQLite3_INCLUDE_DIR}/sqlite3.h")
  message(FATAL_ERROR "No sqlite3.h in ${SQLite3_INCLUDE_DIR}: scripts/install-deps.sh --mipsel "
                      "unpacks the target's SQLite there, or configure with -DRVT_BUILD_TOOLS=OFF")
endif()
if(RVT_BUILD_TOOLS)
  find_package(CLI11 CONFIG QUIET)
  find_package(SQLite3 QUIET)
  set(_rvt_missing "")
  if(NOT CLI11_FOUND)
    list(APPEND _rvt_missing "CLI11")
  endif()
  if(NOT SQLite3_FOUND)
    list(APPEND _rvt_missing "SQLite")
  endif()
  if(_rvt_missing)
    list(JOIN _rvt_missing " and " _rvt_missing)
    if(NOT CMAKE_CROSSCOMPILING)
      message(FATAL_ERROR "The bench tools need ${_rvt_missing}: scripts/install-deps.sh "
                          "installs them, or configure with -DRVT_BUILD_TOOLS=OFF")
    endif()
    list(APPEND _rvt_left_out "the bench tools zelhost and rvt2600-sim (no ${_rvt_missing})")
    set(RVT_BUILD_TOOLS OFF)
  endif()
endif()

if(RVT_BUILD_TESTS)
  if(CMAKE_CROSSCOMPILING)
    find_package(GTest QUIET)
    if(NOT GTest_FOUND)
      list(APPEND _rvt_left_out "the tests (no GoogleTest)")
      set(RVT_BUILD_TESTS OFF)
    endif()
  else()
    find_package(GTest REQUIRED)
  endif()
endif()

if(_rvt_left_out)
  list(JOIN _rvt_left_out ", " _rvt_left_out)
  if(CMAKE_SYSROOT)
    set(_rvt_where "in ${CMAKE_SYSROOT}")
  else()
    set(_rvt_where "for ${RVT_TARGET_TRIPLE}")
  endif()
  message(STATUS "Left out of the ${CMAKE_SYSTEM_PROCESSOR} build, without a suitable library "
                 "${_rvt_where}: ${_rvt_left_out}")
  unset(_rvt_where)
endif()
unset(_rvt_left_out)
unset(_rvt_missing)
