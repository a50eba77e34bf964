# Prints the stripped size of the plugin after each link: a stripped copy is made with the
# toolchain's strip (the cross one in the target build) and its size reported.
# Included after add_subdirectory(plugin); also run as a script (-P) to print a file's size.
if(CMAKE_SCRIPT_MODE_FILE)
  file(SIZE "${FILE}" size)
  math(EXPR kib "(${size} + 1023) / 1024")
  message("${LABEL}: ${size} bytes (${kib} KiB) stripped")
  return()
endif()

if(TARGET rvt2600 AND CMAKE_STRIP)
  set(_stripped ${CMAKE_BINARY_DIR}/stripped/librvt2600.so)
  add_custom_command(
    OUTPUT ${_stripped}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/stripped
    COMMAND ${CMAKE_STRIP} -o ${_stripped} $<TARGET_FILE:rvt2600>
    COMMAND ${CMAKE_COMMAND} -DFILE=${_stripped}
            "-DLABEL=librvt2600.so (${CMAKE_SYSTEM_PROCESSOR})" -P ${CMAKE_CURRENT_LIST_FILE}
    DEPENDS rvt2600
    COMMENT "Stripping librvt2600.so"
    VERBATIM)
  add_custom_target(rvt2600_stripped ALL DEPENDS ${_stripped})
  unset(_stripped)
endif()
