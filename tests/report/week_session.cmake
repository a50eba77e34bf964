# The report of a week of rounds, one every 2 s, on the reference site: written in a few
# seconds, thinned, and drawn by headless chromium in the time allowed. Prints what it measured.
#   cmake -DZELHOST=... -DEMULATOR=... -DHISTORY_TOOL=... -DWORK=... -DCHROMIUM=... -P
include(${CMAKE_CURRENT_LIST_DIR}/Browser.cmake)

set(rounds 302400)        # 7 days
set(write_limit_s 120)    # generous: under emulation, and with other builds on the machine
set(draw_limit_ms 30000)

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
now(t0)
execute_process(COMMAND ${EMULATOR} ${HISTORY_TOOL} ${WORK}/week.db ${rounds}
                RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "report-week-history: exit ${rc}\n${err}")
endif()
now(t1)
zelhost(--history ${WORK}/week.db --report ${WORK}/week.html)
now(t2)
file(SIZE ${WORK}/week.html bytes)
math(EXPR kib "${bytes} / 1024")

dump_dom(${WORK}/week.html dom)
screenshot(${WORK}/week.html ${WORK}/week.png 1400,1800)
expect_no_errors("${dom}")
result("${dom}" data-draw-ms draw_ms)
result("${dom}" data-load-ms load_ms)

# Seconds between two time stamps, as text with three decimals.
function(seconds_between a b out)
  string(REGEX REPLACE "\\." "" a "${a}")
  string(REGEX REPLACE "\\." "" b "${b}")
  math(EXPR ms "(${b} - ${a}) / 1000")
  math(EXPR s "${ms} / 1000")
  math(EXPR frac "${ms} % 1000")
  string(LENGTH "${frac}" n)
  while(n LESS 3)
    set(frac "0${frac}")
    math(EXPR n "${n} + 1")
  endwhile()
  set(${out} "${s}.${frac}" PARENT_SCOPE)
  set(${out}_ms ${ms} PARENT_SCOPE)
endfunction()
seconds_between(${t0} ${t1} generated)
seconds_between(${t1} ${t2} written)
message(STATUS "week of ${rounds} rounds: history written in ${generated} s, report in ${written} s, "
               "page ${kib} KiB, drawn ${draw_ms} ms after its script started (${load_ms} ms after "
               "the page began to load)")
math(EXPR write_limit_ms "${write_limit_s} * 1000")
if(written_ms GREATER write_limit_ms)
  message(SEND_ERROR "the report took ${written} s to write, more than ${write_limit_s} s")
endif()
if(draw_ms GREATER draw_limit_ms)
  message(SEND_ERROR "the page took ${draw_ms} ms to draw, more than ${draw_limit_ms} ms")
endif()

# Every chart there, each series thinned to at most two points per span of time.
expect_count("${dom}" "<div class=\"uplot" 7 "charts")
expect_count("${dom}" "class=\"note thinned\"" 7 "charts that say they are thinned")
string(REGEX MATCHALL "data-points=\"[0-9]+\"" counts "${dom}")
foreach(c IN LISTS counts)
  string(REGEX REPLACE "[^0-9]" "" n "${c}")
  if(n GREATER 2000)
    message(SEND_ERROR "a series of ${n} points, more than the page thins to")
  endif()
endforeach()
points("${dom}" "102-output" "v" v)
if(v LESS 1000)
  message(SEND_ERROR "the DC voltage has ${v} points, too few for a week")
endif()
# The hour without rounds on the third day: one band over each chart.
count_matches("${dom}" "class=\"gap-band\"" bands)
if(bands LESS 7)
  message(SEND_ERROR "${bands} gap bands, expected one per chart at least")
endif()
