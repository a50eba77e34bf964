# After each link of the plugin: a stripped copy (the toolchain's strip, the cross one in the
# target build), and what it asks of the controller, printed and written into the integrator
# text (cmake/INTEGRATION.txt.in): its size, NEEDED entries, the highest version it needs of
# each runtime (GLIBC_, GLIBCXX_, CXXABI_, GCC_), ISA, float ABI and std::string ABI, the
# symbols the host process must define, and the layout table of the host classes it was compiled
# against (host-layout).
# Included after add_subdirectory(plugin); run as a script (-P) on the stripped file.
if(CMAKE_SCRIPT_MODE_FILE)
  cmake_minimum_required(VERSION 3.25)
  function(readelf out)
    execute_process(COMMAND ${READELF} ${ARGN} -W ${FILE} OUTPUT_VARIABLE text
                    RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "${READELF} ${ARGN} failed on ${FILE}")
    endif()
    set(${out} "${text}" PARENT_SCOPE)
  endfunction()

  file(SIZE "${FILE}" size)
  math(EXPR kib "(${size} + 1023) / 1024")

  readelf(dynamic -d)
  string(REGEX MATCHALL "\\(NEEDED\\)[^[]*\\[[^]]+\\]" entries "${dynamic}")
  list(TRANSFORM entries REPLACE ".*\\[(.+)\\]" "\\1")
  list(JOIN entries " " needed)

  # The versions the plugin's undefined symbols ask for (.gnu.version_r), the highest of each.
  readelf(versions -V)
  string(FIND "${versions}" ".gnu.version_r" at)
  string(SUBSTRING "${versions}" ${at} -1 versions)
  string(REGEX MATCHALL "(GLIBC|GLIBCXX|CXXABI|GCC)_[0-9][0-9.]*" tags "${versions}")
  set(highest "")
  foreach(runtime GLIBC GLIBCXX CXXABI GCC)
    set(top "")
    foreach(tag IN LISTS tags)
      if(tag MATCHES "^${runtime}_(.+)$")
        if(top STREQUAL "" OR CMAKE_MATCH_1 VERSION_GREATER top)
          set(top ${CMAKE_MATCH_1})
        endif()
      endif()
    endforeach()
    if(NOT top STREQUAL "")
      list(APPEND highest ${runtime}_${top})
    endif()
  endforeach()
  list(JOIN highest " " highest)

  # ISA and float ABI: the MIPS ABI flags where there are some, else the ELF machine.
  readelf(arch -A)
  readelf(header -h)
  if(arch MATCHES "\nISA: ([^\n]+)")
    set(isa "${CMAKE_MATCH_1}")
  elseif(header MATCHES "Machine: +([^\n]+)")
    set(isa "${CMAKE_MATCH_1}")
  endif()
  if(header MATCHES "Flags: +[^\n]*(o32|n32|n64)")
    string(APPEND isa ", ${CMAKE_MATCH_1}")
  endif()
  if(arch MATCHES "\nFP ABI: ([^\n]+)")
    set(float_abi "${CMAKE_MATCH_1}")
  else()
    set(float_abi "the ABI's own (no float ABI variants)")
  endif()

  # std::string ABI: the C++11 one mangles as std::__cxx11::basic_string, the old one as Ss.
  readelf(symbols --dyn-syms)
  if(symbols MATCHES "St7__cxx11")
    set(string_abi "C++11 (std::__cxx11::basic_string, _GLIBCXX_USE_CXX11_ABI=1)")
  elseif(symbols MATCHES "_ZNSs|_ZNKSs|Ss[A-Z_0-9]")
    set(string_abi "pre-C++11 (copy-on-write std::string, _GLIBCXX_USE_CXX11_ABI=0)")
  else()
    set(string_abi "none (no std::string across the boundary)")
  endif()

  # What the host process defines: the undefined symbols that no runtime version names, less
  # the toolchain's own weak references. jsoncpp's apart; the weak ones may be absent.
  string(REPLACE "\n" ";" lines "${symbols}")
  set(host "")
  set(json "")
  set(weak "")
  foreach(line IN LISTS lines)
    if(line MATCHES " (GLOBAL|WEAK) +[A-Z]+ +UND ([^ @]+)$")
      set(bind ${CMAKE_MATCH_1})
      set(name ${CMAKE_MATCH_2})
      if(name MATCHES "^(_ITM_|__gmon_start__)")
      elseif(bind STREQUAL "WEAK")
        list(APPEND weak ${name})
      elseif(name MATCHES "^_Z[A-Z]*N?K?4Json")
        list(APPEND json ${name})
      else()
        list(APPEND host ${name})
      endif()
    endif()
  endforeach()
  foreach(group host json weak)
    if(CXXFILT AND ${group})
      execute_process(COMMAND ${CXXFILT} ${${group}} OUTPUT_VARIABLE ${group})
      string(STRIP "${${group}}" ${group})
      string(REPLACE "\n" ";" ${group} "${${group}}")
    endif()
    list(SORT ${group})
    list(JOIN ${group} "\n    " ${group})
  endforeach()

  # The layout table of the host classes, as host-layout's object holds it (compiled with the
  # plugin's declarations and flags): from its first line to the NUL that ends it.
  file(READ "${LAYOUT_OBJECT}" object HEX)
  string(HEX "host layout, in bytes" first)
  string(HEX "end of host layout\n" last)
  set(layout "")
  set(from 0)
  while(layout STREQUAL "")
    string(SUBSTRING "${object}" ${from} -1 rest)
    string(FIND "${rest}" "${first}" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "No host layout table in ${LAYOUT_OBJECT}")
    endif()
    math(EXPR from "${from} + ${at} + 1")
    math(EXPR odd "${at} % 2")
    if(odd EQUAL 0)
      string(SUBSTRING "${rest}" ${at} 16384 chunk)
      string(FIND "${chunk}" "${last}00" end)
      math(EXPR odd "${end} % 2")
      if(end GREATER 0 AND odd EQUAL 0)
        string(LENGTH "${last}" tail)
        math(EXPR end "${end} + ${tail} - 2")
        foreach(k RANGE 0 ${end} 2)
          string(SUBSTRING "${chunk}" ${k} 2 byte)
          math(EXPR code "0x${byte}")
          string(ASCII ${code} char)
          string(APPEND layout "${char}")
        endforeach()
      endif()
    endif()
  endwhile()
  if(HOST_DIR STREQUAL STANDIN_DIR)
    set(HOST_DECLARATIONS "the stand-in host's declarations (host/ of the source tree)")
  else()
    set(HOST_DECLARATIONS "${HOST_DIR}")
  endif()

  message("${LABEL} ${VERSION}: ${size} bytes (${kib} KiB) stripped\n"
          "  needs ${needed}; at least ${highest}\n"
          "  ISA ${isa}; float ABI ${float_abi}; std::string ${string_abi}")
  set(SIZE ${size})
  set(NEEDED "${needed}")
  set(HIGHEST "${highest}")
  set(ISA "${isa}")
  set(FLOAT_ABI "${float_abi}")
  set(STRING_ABI "${string_abi}")
  set(HOST "${host}")
  set(JSON "${json}")
  set(WEAK "${weak}")
  set(LAYOUT "${layout}")
  configure_file(${TEMPLATE} ${TEXT} @ONLY)
  return()
endif()

if(TARGET rvt2600 AND CMAKE_STRIP)
  find_program(RVT_CXXFILT NAMES ${RVT_CROSS_PREFIX}c++filt c++filt)
  set(_stripped ${CMAKE_BINARY_DIR}/stripped/librvt2600.so)
  set(RVT_INTEGRATION_TEXT ${CMAKE_BINARY_DIR}/stripped/INTEGRATION.txt)
  add_custom_command(
    OUTPUT ${_stripped} ${RVT_INTEGRATION_TEXT}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/stripped
    COMMAND ${CMAKE_STRIP} -o ${_stripped} $<TARGET_FILE:rvt2600>
    COMMAND ${CMAKE_COMMAND} -DFILE=${_stripped} -DREADELF=${CMAKE_READELF}
            -DCXXFILT=${RVT_CXXFILT} -DVERSION=${PROJECT_VERSION}
            "-DLABEL=librvt2600.so (${CMAKE_SYSTEM_PROCESSOR})"
            -DARCH=${CMAKE_SYSTEM_PROCESSOR} -DPLUGIN_DIR=${RVT_PLUGIN_INSTALL_DIR}
            -DTEMPLATE=${PROJECT_SOURCE_DIR}/cmake/INTEGRATION.txt.in
            -DTEXT=${RVT_INTEGRATION_TEXT} "-DLAYOUT_OBJECT=$<TARGET_OBJECTS:rvt_host_layout_object>"
            -DHOST_DIR=${RVT_HOST_DIR} -DSTANDIN_DIR=${PROJECT_SOURCE_DIR}/host
            -P ${CMAKE_CURRENT_LIST_FILE}
    DEPENDS rvt2600 rvt_host_layout_object $<TARGET_OBJECTS:rvt_host_layout_object>
            ${CMAKE_CURRENT_LIST_FILE} ${PROJECT_SOURCE_DIR}/cmake/INTEGRATION.txt.in
    COMMENT "Stripping librvt2600.so"
    VERBATIM)
  add_custom_target(rvt2600_stripped ALL DEPENDS ${_stripped})
  unset(_stripped)
endif()
