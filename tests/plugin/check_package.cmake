# Makes the build's packages with cpack into OUT and checks them: the .deb names ARCH and
# VERSION, its Depends do not name jsoncpp unless the bench tools are in it (the host brings
# jsoncpp to the plugin), the .deb and the .tar.gz hold exactly FILES (comma-separated, relative
# to the prefix) and the plugin in them is stripped. Run as:
#   cmake -DCPACK=<cpack> -DCONFIG=<CPackConfig.cmake> -DOUT=<dir> -DREADELF=<readelf>
#         -DNAME=<archive name> -DARCH=<arch> -DVERSION=<v> -DFILES=<a,b,...> -P check_package.cmake
cmake_minimum_required(VERSION 3.25)

function(run out)
  execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE text ERROR_VARIABLE errors
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "${command} failed:\n${text}${errors}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# The regular files of a listing (tar tv style: type letter first, path last), with PREFIX cut.
function(regular_files out listing prefix)
  string(REPLACE "\n" ";" lines "${listing}")
  set(files "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^-.* ${prefix}([^ ]+)$")
      list(APPEND files ${CMAKE_MATCH_1})
    endif()
  endforeach()
  list(SORT files)
  set(${out} "${files}" PARENT_SCOPE)
endfunction()

function(expect_files what actual)
  if(NOT actual STREQUAL expected)
    list(JOIN actual "\n  " shown_actual)
    list(JOIN expected "\n  " shown_expected)
    message(FATAL_ERROR "${what} holds\n  ${shown_actual}\nexpected\n  ${shown_expected}")
  endif()
endfunction()

string(REPLACE "," ";" expected "${FILES}")
list(SORT expected)
file(REMOVE_RECURSE ${OUT})
run(ignored ${CPACK} --config ${CONFIG} -B ${OUT})

file(GLOB deb ${OUT}/*.deb)
set(archive ${OUT}/${NAME}.tar.gz)
if(NOT deb MATCHES "_${VERSION}_${ARCH}\\.deb$" OR NOT EXISTS ${archive})
  file(GLOB made ${OUT}/*.*)
  message(FATAL_ERROR "cpack made [${made}]: expected rvt2600_${VERSION}_${ARCH}.deb and "
                      "${NAME}.tar.gz")
endif()

run(field dpkg-deb --field ${deb} Architecture Version Depends)
if(NOT field MATCHES "Architecture: ${ARCH}\n" OR NOT field MATCHES "Version: ${VERSION}\n")
  message(FATAL_ERROR "${deb}: expected Architecture ${ARCH} and Version ${VERSION}:\n${field}")
endif()
if(NOT expected MATCHES "bin/" AND field MATCHES "jsoncpp")
  message(FATAL_ERROR "${deb} depends on jsoncpp, which the host brings:\n${field}")
endif()

run(listing dpkg-deb --contents ${deb})
regular_files(files "${listing}" "\\./usr/")
expect_files(${deb} "${files}")
run(listing tar -tvzf ${archive})
regular_files(files "${listing}" "${NAME}/")
expect_files(${archive} "${files}")

# The plugin as packaged: no symbol table left.
set(unpacked ${OUT}/unpacked)
file(ARCHIVE_EXTRACT INPUT ${archive} DESTINATION ${unpacked})
list(FILTER expected INCLUDE REGEX "librvt2600\\.so$")
run(sections ${READELF} -S -W ${unpacked}/${NAME}/${expected})
if(sections MATCHES "\\.symtab")
  message(FATAL_ERROR "${expected} in ${archive} is not stripped")
endif()
message(STATUS "${deb} and ${archive}: ${ARCH} ${VERSION}, files as expected")
