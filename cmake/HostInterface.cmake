# The host framework's declarations the plugin compiles against, and the plugin's one adapter of
# them (plugin/HostAdapter.h). RVT_HOST_INCLUDE_DIR names the folder: by default the stand-in
# host's host/, for a controller its framework's own headers. The stand-in host's bodies build
# against the same folder (the tests' second header set proves the plugin against another).
set(RVT_HOST_INCLUDE_DIR ${PROJECT_SOURCE_DIR}/host CACHE PATH
    "Folder of the host framework's declarations the plugin compiles against")
get_filename_component(_rvt_host_dir "${RVT_HOST_INCLUDE_DIR}" ABSOLUTE)
set(_rvt_missing "")
foreach(header VDeviceInterface.h ZelVDevice.h ZelSPDevice.h PMBusProtocol.h ZelController.h
               ZelTypes.h Provider.h)
  if(NOT EXISTS ${_rvt_host_dir}/${header})
    list(APPEND _rvt_missing ${header})
  endif()
endforeach()
if(_rvt_missing)
  list(JOIN _rvt_missing ", " _rvt_missing)
  message(FATAL_ERROR "RVT_HOST_INCLUDE_DIR=${RVT_HOST_INCLUDE_DIR} has no ${_rvt_missing}: it "
                      "must hold the host framework's declarations under the names of host/ "
                      "(a framework that names them otherwise is adapted in "
                      "plugin/HostAdapter.h)")
endif()
if(NOT _rvt_host_dir STREQUAL "${PROJECT_SOURCE_DIR}/host")
  message(STATUS "Host declarations: ${_rvt_host_dir}")
endif()

# The declarations, with what they include: Boost's and jsoncpp's headers and fmt (the stand-in's
# InfoLog template). jsoncpp's library comes with the host.
add_library(zel_host_api INTERFACE)
target_include_directories(zel_host_api INTERFACE ${_rvt_host_dir})
target_link_libraries(zel_host_api INTERFACE Boost::headers rvt_jsoncpp_headers
                      fmt::fmt-header-only)

# What the plugin's own files include instead of any host header.
add_library(rvt_host_adapter INTERFACE)
target_include_directories(rvt_host_adapter INTERFACE ${PROJECT_SOURCE_DIR}/plugin)
target_link_libraries(rvt_host_adapter INTERFACE zel_host_api)

set(RVT_HOST_DIR ${_rvt_host_dir})
unset(_rvt_host_dir)
unset(_rvt_missing)
