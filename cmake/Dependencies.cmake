# Third-party packages, all from Debian.
set(Boost_NO_WARN_NEW_VERSIONS ON)
find_package(Boost 1.74 REQUIRED)           # Date_Time and Lexical_Cast are header-only here
find_package(jsoncpp REQUIRED)              # settings objects
find_package(fmt REQUIRED)                  # "{}" formatting of log lines
find_package(Threads REQUIRED)              # the host's work-item thread

if(TARGET jsoncpp_lib)
  set(RVT_JSONCPP jsoncpp_lib)
else()
  set(RVT_JSONCPP jsoncpp_static)
endif()

if(RVT_BUILD_TESTS)
  find_package(GTest REQUIRED)
endif()
