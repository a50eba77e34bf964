# The report of a short session of two power systems, checked in headless chromium: the site A
# replay (data ids 100, 101, 102) loses its line before round 7, raises and clears a DC fuse
# alarm and a module fault; site B (200, 201, 202) ends with its DC output voltage low.
#   cmake -DZELHOST=... -DEMULATOR=... -DPLUGIN=... -DDATA=... -DWORK=... -DCHROMIUM=... -P
include(${CMAKE_CURRENT_LIST_DIR}/Browser.cmake)

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
foreach(site a b)
  if(site STREQUAL "a")
    set(id 100)
  else()
    set(id 200)
  endif()
  math(EXPR ac "${id} + 1")
  math(EXPR dc "${id} + 2")
  file(WRITE ${WORK}/site-${site}.json
       "{\"plugin\": \"${PLUGIN}\", \"devices\": [{\"type\": \"rvt2600\", \"data_id\": ${id},"
       " \"settings\": {\"acSetting\": [{\"data_id\": ${ac}}], \"dcSetting\": [{\"data_id\": ${dc}}],"
       " \"rcSetting\": {}}}]}")
  zelhost(--config ${WORK}/site-${site}.json --replay ${DATA}/site-${site}.replay
          --history ${WORK}/session.db)
endforeach()

zelhost(--history ${WORK}/session.db --report ${WORK}/session.html)
dump_dom(${WORK}/session.html dom)
file(WRITE ${WORK}/session.dom.html "${dom}")
screenshot(${WORK}/session.html ${WORK}/session.png 1400,1800)
expect_no_errors("${dom}")

# Site A: three channels, four modules, ten rounds; site B: one channel, two modules.
expect_count("${dom}" "<div class=\"uplot" 12 "charts")
expect_count("${dom}" "<canvas" 12 "canvases")
# chart | series | points: a not-available value is a gap; module faults are marks.
set(expected
  "101-channel1|va|10" "101-channel2|vb|9" "101-channel3|f|10" "101-currents|ia|9"
  "101-currents|ib|10" "100-group|group|10" "100-modules|module 1|10" "100-modules|module 2 fault|2"
  "100-modules|module 4 fault|0" "102-output|v|10" "102-output|i|10"
  "201-channel1|vc|10" "201-currents|ic|10" "200-modules|module 2|10" "202-output|v|10")
foreach(row IN LISTS expected)
  string(REPLACE "|" ";" row "${row}")
  list(GET row 0 chart)
  list(GET row 1 series)
  list(GET row 2 n)
  points("${dom}" "${chart}" "${series}" got)
  if(NOT got STREQUAL n)
    message(SEND_ERROR "chart ${chart}, series ${series}: '${got}' points, expected ${n}")
  endif()
endforeach()
expect_count("${dom}" "data-points=" 40 "series")

# One row per alarm; the fuse and the module are cleared, site B's low voltage is still active.
expect_count("${dom}" "class=\"alarm-track alarm-row\"" 3 "alarm rows")
foreach(row "DC_3/9\" data-device=\"102" "RC_0/2\" data-device=\"100" "DC_0/1\" data-device=\"202")
  expect_count("${dom}" "data-rule=\"${row}\" data-bars=\"1\"" 1 "alarm row ${row}")
endforeach()
expect_count("${dom}" "class=\"alarm-bar level-[0-9a-z]+ active\"" 1 "active alarm bars")
foreach(text "直流7电池熔丝故障告警" "模块2整流模块故障告警" "输出电压过低告警")
  expect_count("${dom}" "class=\"alarm-label\"[^>]*>[^<]*${text}" 1 "alarm label ${text}")
endforeach()

# The line lost on site A: a band over each of its seven charts and its two alarm rows, none on
# site B's.
expect_count("${dom}" "class=\"gap-band\"" 9 "gap bands")
expect_count("${dom}" "<tr class=\"site-unit\" data-id=\"[0-9]+\">" 6 "units in the head")
foreach(text "<p id=\"summary\">[^<]*10 rounds" "<p id=\"summary\">[^<]*3 alarms raised"
             "<section id=\"legend\"><p>[^<]*not available")
  if(NOT dom MATCHES "${text}")
    message(SEND_ERROR "the page does not say \"${text}\"")
  endif()
endforeach()

# A range with no rounds still gives a page, says so, and shows the alarm still active then.
zelhost(--history ${WORK}/session.db --report ${WORK}/empty.html --from 2027-01-01T00:00:00)
dump_dom(${WORK}/empty.html empty)
expect_no_errors("${empty}")
expect_count("${empty}" "<div class=\"uplot" 0 "charts of an empty range")
if(NOT empty MATCHES "<p id=\"summary\">No rounds in this range, 0 alarms raised")
  message(SEND_ERROR "the empty range's page does not say so")
endif()
expect_count("${empty}" "class=\"alarm-track alarm-row\" data-rule=\"DC_0/1\"" 1
             "the alarm still active in an empty range")
expect_count("${empty}" "class=\"alarm-track alarm-row\"" 1 "alarm rows of an empty range")
result("${dom}" data-draw-ms ms)
message(STATUS "short session: page ${ms} ms to draw")
