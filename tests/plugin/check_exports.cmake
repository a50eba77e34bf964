# Fails unless get_providers is the only GLOBAL or WEAK symbol that LIBRARY defines in its
# dynamic symbol table. Run as: cmake -DREADELF=<readelf> -DLIBRARY=<file> -P check_exports.cmake
execute_process(COMMAND ${READELF} --dyn-syms -W ${LIBRARY}
                OUTPUT_VARIABLE table ERROR_VARIABLE errors RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${READELF} --dyn-syms failed on ${LIBRARY}: ${errors}")
endif()

string(REPLACE "\n" ";" lines "${table}")
set(found FALSE)
set(others "")
foreach(line IN LISTS lines)
  # Num: Value Size Type Bind Vis [other] Ndx Name
  if(line MATCHES "^ *[0-9]+: +[^ ]+ +[^ ]+ +[^ ]+ +(GLOBAL|WEAK) +[A-Z_]+ +(\\[[^\\[]*\\] +)?([^ ]+) +([^ ]+)")
    set(ndx "${CMAKE_MATCH_3}")
    set(name "${CMAKE_MATCH_4}")
    if(NOT ndx STREQUAL "UND")
      if(name STREQUAL "get_providers")
        set(found TRUE)
      else()
        list(APPEND others "${name} (${CMAKE_MATCH_1}, section ${ndx})")
      endif()
    endif()
  endif()
endforeach()

if(NOT found)
  message(FATAL_ERROR "${LIBRARY} does not define get_providers")
endif()
if(others)
  list(JOIN others "\n  " shown)
  message(FATAL_ERROR "${LIBRARY} defines more than get_providers:\n  ${shown}")
endif()
message(STATUS "${LIBRARY}: get_providers is the only defined global symbol")
