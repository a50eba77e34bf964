# Install rules and packages. `cmake --install` puts the plugin where a host looks for plugins
# (RVT_PLUGIN_INSTALL_DIR under the prefix) and the integrator text beside the other docs; the
# bench tools, where this build makes them, go to bin. `cpack` in the build folder makes a .deb
# and a .tar.gz of it for the build's architecture (mipsel from the target build), stripped.
# Included last, once every target is defined.
include(GNUInstallDirs)

install(TARGETS rvt2600 LIBRARY DESTINATION ${RVT_PLUGIN_INSTALL_DIR})
if(RVT_INTEGRATION_TEXT)
  install(FILES ${RVT_INTEGRATION_TEXT} DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()
# host-layout's one source file and the adapter header it includes, for an integrator who
# compares the text's layout table with a host framework's headers.
set(RVT_HOST_LAYOUT_FILES ${PROJECT_SOURCE_DIR}/tools/host-layout.cpp
    ${PROJECT_SOURCE_DIR}/plugin/HostAdapter.h)
install(FILES ${RVT_HOST_LAYOUT_FILES} DESTINATION ${CMAKE_INSTALL_DOCDIR}/host-layout)
set(RVT_PACKAGE_TOOLS "")
foreach(tool zelhost rvt2600-sim)
  if(TARGET ${tool})
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    list(APPEND RVT_PACKAGE_TOOLS ${tool})
  endif()
endforeach()

# Debian's name of the architecture: the target's in a cross build, dpkg's natively.
if(CMAKE_CROSSCOMPILING)
  set(_rvt_arch ${CMAKE_SYSTEM_PROCESSOR})
else()
  execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE _rvt_arch
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(NOT _rvt_arch)
    set(_rvt_arch ${CMAKE_SYSTEM_PROCESSOR})
  endif()
endif()
set(RVT_PACKAGE_ARCH ${_rvt_arch} CACHE STRING "Architecture named by the packages")
unset(_rvt_arch)
set(RVT_PACKAGE_CONTACT "RVT2600 plugin maintainers <rvt2600@localhost>"
    CACHE STRING "Maintainer named by the .deb")

set(CPACK_PACKAGE_NAME rvt2600)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Device-driver plugin for the RVT2600 DC power system")
set(CPACK_PACKAGE_CONTACT "${RVT_PACKAGE_CONTACT}")
set(CPACK_GENERATOR TGZ DEB)
set(CPACK_STRIP_FILES ON)
# The archive's name says its architecture too (CPack's own leaves it out).
set(RVT_PACKAGE_FILE_NAME rvt2600-${PROJECT_VERSION}-${RVT_PACKAGE_ARCH})
set(CPACK_PACKAGE_FILE_NAME ${RVT_PACKAGE_FILE_NAME})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${RVT_PACKAGE_ARCH})
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "librvt2600.so, loaded by the site-monitoring controller's host framework, which brings jsoncpp \
and its own symbols. share/doc/rvt2600/INTEGRATION.txt says what the host and the controller \
must offer.")
# Dependencies from the libraries the files need, as installed (the :mipsel packages in the
# target build). jsoncpp is not among the plugin's: the host brings it.
# A library that no installed package holds (one extracted by hand) has none: name its package
# in RVT_PACKAGE_DEPENDS.
find_program(RVT_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(RVT_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
set(RVT_PACKAGE_DEPENDS "" CACHE STRING "Dependencies of the .deb beyond dpkg-shlibdeps' ones")
set(_rvt_depends ${RVT_PACKAGE_DEPENDS})
# SQLite unpacked into the build's own root for the target's bench tools is such a library;
# dpkg-shlibdeps is shown where it is.
if(RVT_PACKAGE_TOOLS AND SQLite3_LIBRARY)
  file(REAL_PATH ${SQLite3_LIBRARY} _rvt_sqlite)
  execute_process(COMMAND dpkg -S ${_rvt_sqlite} RESULT_VARIABLE _rvt_owned
                  OUTPUT_QUIET ERROR_QUIET)
  if(NOT _rvt_owned EQUAL 0)
    list(APPEND _rvt_depends libsqlite3-0)
    get_filename_component(_rvt_sqlite ${_rvt_sqlite} DIRECTORY)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${_rvt_sqlite})
  endif()
  unset(_rvt_sqlite)
  unset(_rvt_owned)
endif()
list(JOIN _rvt_depends ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
unset(_rvt_depends)
include(CPack)

# The packages' architecture and file lists, against what this build installs.
if(RVT_BUILD_TESTS AND RVT_INTEGRATION_TEXT)
  set(_rvt_files ${RVT_PLUGIN_INSTALL_DIR}/librvt2600.so ${CMAKE_INSTALL_DOCDIR}/INTEGRATION.txt)
  foreach(file IN LISTS RVT_HOST_LAYOUT_FILES)
    get_filename_component(file ${file} NAME)
    list(APPEND _rvt_files ${CMAKE_INSTALL_DOCDIR}/host-layout/${file})
  endforeach()
  foreach(tool IN LISTS RVT_PACKAGE_TOOLS)
    list(APPEND _rvt_files ${CMAKE_INSTALL_BINDIR}/${tool})
  endforeach()
  list(JOIN _rvt_files "," _rvt_files)
  add_test(NAME package_contents
           COMMAND ${CMAKE_COMMAND} -DCPACK=${CMAKE_CPACK_COMMAND}
                   -DCONFIG=${CMAKE_BINARY_DIR}/CPackConfig.cmake
                   -DOUT=${CMAKE_BINARY_DIR}/package-test -DREADELF=${CMAKE_READELF}
                   -DNAME=${RVT_PACKAGE_FILE_NAME} -DARCH=${RVT_PACKAGE_ARCH}
                   -DVERSION=${PROJECT_VERSION} -DFILES=${_rvt_files}
                   -P ${PROJECT_SOURCE_DIR}/tests/plugin/check_package.cmake)
  unset(_rvt_files)
endif()
