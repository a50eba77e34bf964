# The plugin's files reach the host only through plugin/HostAdapter.h: no other file under
# root/, units/ or plugin/ includes a header of the host's folders. Run as:
#   cmake -DSOURCE=<source tree> -DHOST_DIRS=<a,b,...> -P check_includes.cmake
cmake_minimum_required(VERSION 3.25)

set(host_headers "")
string(REPLACE "," ";" dirs "${HOST_DIRS}")
foreach(dir IN LISTS dirs)
  file(GLOB headers RELATIVE ${dir} ${dir}/*.h)
  list(APPEND host_headers ${headers})
endforeach()
list(REMOVE_DUPLICATES host_headers)

file(GLOB_RECURSE files RELATIVE ${SOURCE} ${SOURCE}/root/*.h ${SOURCE}/root/*.cpp
     ${SOURCE}/units/*.h ${SOURCE}/units/*.cpp ${SOURCE}/plugin/*.h ${SOURCE}/plugin/*.cpp)
list(REMOVE_ITEM files plugin/HostAdapter.h)
set(found "")
foreach(file IN LISTS files)
  file(STRINGS ${SOURCE}/${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[^<\"]*[<\"]([^>\"]+)[>\"].*$" "\\1" header "${line}")
    get_filename_component(name "${header}" NAME)
    if(name IN_LIST host_headers)
      list(APPEND found "${file}: ${header}")
    endif()
  endforeach()
endforeach()
if(found)
  list(JOIN found "\n  " found)
  message(FATAL_ERROR "Host headers included beside plugin/HostAdapter.h (include that "
                      "instead):\n  ${found}")
endif()
list(LENGTH files count)
message(STATUS "${count} files of the plugin include the host through HostAdapter.h only")
