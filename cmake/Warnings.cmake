# Warnings for every target of the project.
add_library(rvt_warnings INTERFACE)
target_compile_options(rvt_warnings INTERFACE -Wall -Wextra)
option(RVT_WERROR "Treat warnings as errors" ON)
if(RVT_WERROR)
  target_compile_options(rvt_warnings INTERFACE -Werror)
endif()
