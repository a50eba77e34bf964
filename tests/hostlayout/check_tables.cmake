# Layout tables of host-layout programs. Run as:
#   cmake -DPREFIX=<emulator command, or empty> -DCHECK=<check> -DPROGRAM=<host-layout> ...
#         -P check_tables.cmake
# CHECK is one of
#   program  PROGRAM prints the table that TEXT (an INTEGRATION.txt) holds;
#   sets     each of OTHERS (comma-separated host-layout programs, built against other
#            declarations) prints a table that differs from PROGRAM's.
cmake_minimum_required(VERSION 3.25)

function(table_of out program)
  separate_arguments(prefix UNIX_COMMAND "${PREFIX}")
  execute_process(COMMAND ${prefix} ${program} OUTPUT_VARIABLE text ERROR_VARIABLE errors
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${program} failed (${status}): ${errors}")
  endif()
  if(NOT text MATCHES "^host layout, in bytes[^\n]*\n.*end of host layout\n$")
    message(FATAL_ERROR "${program} printed no table:\n${text}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

table_of(table ${PROGRAM})
if(CHECK STREQUAL "program")
  file(READ ${TEXT} text)
  string(FIND "${text}" "${table}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${TEXT} does not hold the table ${PROGRAM} prints:\n${table}")
  endif()
  message(STATUS "${TEXT} holds the table of ${PROGRAM}")

elseif(CHECK STREQUAL "sets")
  string(REPLACE "," ";" others "${OTHERS}")
  foreach(other IN LISTS others)
    table_of(other_table ${other})
    if(other_table STREQUAL table)
      message(FATAL_ERROR "${other} prints the same table as ${PROGRAM}: its declarations lay "
                          "out the host classes as the stand-in's do\n${table}")
    endif()
    message(STATUS "${other}: another layout than ${PROGRAM}")
  endforeach()

else()
  message(FATAL_ERROR "CHECK must be program or sets, not '${CHECK}'")
endif()
