# What the report tests share: running zelhost (under the target's emulator where there is one),
# loading a page in headless chromium, and reading back what its script drew.
#   ZELHOST, EMULATOR (may be empty), CHROMIUM, WORK: from the test's command line.

if(NOT CHROMIUM)
  message(FATAL_ERROR "chromium not found: scripts/install-deps.sh installs it for these tests")
endif()

# Runs zelhost with the arguments given; fails the test with its standard error unless it exits 0.
function(zelhost)
  execute_process(COMMAND ${EMULATOR} ${ZELHOST} ${ARGN}
                  RESULT_VARIABLE rc OUTPUT_FILE ${WORK}/zelhost.out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "zelhost ${ARGN}: exit ${rc}\n${err}")
  endif()
endfunction()

# Loads PAGE from disk in a fresh headless chromium; the DOM after its script ran goes to OUT.
function(dump_dom page out)
  file(REMOVE_RECURSE ${WORK}/chromium-profile)
  execute_process(COMMAND ${CHROMIUM} --headless --no-sandbox --disable-gpu --disable-quic
                          --no-first-run --disable-background-networking
                          --disable-component-update --disable-sync
                          --user-data-dir=${WORK}/chromium-profile --window-size=1400,1000
                          --dump-dom file://${page}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE dom ERROR_VARIABLE err)
  if(NOT rc EQUAL 0 OR dom STREQUAL "")
    message(FATAL_ERROR "chromium --dump-dom ${page}: exit ${rc}\n${err}")
  endif()
  set(${out} "${dom}" PARENT_SCOPE)
endfunction()

# A picture of the page for a person to look at.
function(screenshot page png size)
  file(REMOVE_RECURSE ${WORK}/chromium-profile)
  execute_process(COMMAND ${CHROMIUM} --headless --no-sandbox --disable-gpu --disable-quic
                          --no-first-run --disable-background-networking
                          --disable-component-update --disable-sync --hide-scrollbars
                          --user-data-dir=${WORK}/chromium-profile --window-size=${size}
                          --screenshot=${png} file://${page}
                  RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0 OR NOT EXISTS ${png})
    message(FATAL_ERROR "chromium --screenshot ${page}: exit ${rc}\n${err}")
  endif()
  message(STATUS "screenshot: ${png}")
endfunction()

# How often REGEX matches in TEXT.
function(count_matches text regex out)
  string(REGEX MATCHALL "${regex}" found "${text}")
  list(LENGTH found n)
  set(${out} ${n} PARENT_SCOPE)
endfunction()

function(expect_count dom regex expected what)
  count_matches("${dom}" "${regex}" n)
  if(NOT n EQUAL expected)
    message(SEND_ERROR "${what}: ${n}, expected ${expected}")
  endif()
endfunction()

# The page's script ran to its end and nothing reported an error.
function(expect_no_errors dom)
  if(NOT dom MATCHES "<pre id=\"errors\"></pre>")
    string(REGEX MATCH "<pre id=\"errors\"[^<]*" errors "${dom}")
    message(SEND_ERROR "the page reported errors: ${errors}")
  endif()
  if(NOT dom MATCHES "<div id=\"results\"[^>]* data-draw-ms=\"[0-9]+\"")
    message(SEND_ERROR "the page's script did not finish drawing")
  endif()
endfunction()

# The value of attribute NAME of the results element.
function(result dom name out)
  string(REGEX MATCH "<div id=\"results\"[^>]* ${name}=\"([^\"]*)\"" _ "${dom}")
  set(${out} "${CMAKE_MATCH_1}" PARENT_SCOPE)
endfunction()

# The points a series of a chart got, as the page's script counted them (empty: no such series).
function(points dom chart series out)
  string(REGEX MATCH "data-chart=\"${chart}\" data-series=\"${series}\" data-points=\"([0-9]+)\""
         _ "${dom}")
  set(${out} "${CMAKE_MATCH_1}" PARENT_SCOPE)
endfunction()

# Seconds since the epoch, with microseconds.
function(now out)
  string(TIMESTAMP t "%s.%f" UTC)
  set(${out} ${t} PARENT_SCOPE)
endfunction()
