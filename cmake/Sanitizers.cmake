# Sanitizer builds, with clang:
# - RVT_FUZZ: every target with AddressSanitizer and UndefinedBehaviorSanitizer (the first finding
#   ends the program), libstdc++'s bounds assertions and libFuzzer's coverage; fuzz/ then builds
#   the libFuzzer programs as well.
# - RVT_TSAN: every target with ThreadSanitizer.
option(RVT_FUZZ "ASan+UBSan build of everything, with the libFuzzer targets (clang)" OFF)
option(RVT_TSAN "ThreadSanitizer build of everything (clang)" OFF)

if(RVT_FUZZ AND RVT_TSAN)
  message(FATAL_ERROR "RVT_FUZZ and RVT_TSAN are separate builds")
endif()
if((RVT_FUZZ OR RVT_TSAN) AND NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "The sanitizer builds need clang (the asan and tsan presets)")
endif()

if(RVT_FUZZ)
  add_compile_options(-fsanitize=address,undefined,fuzzer-no-link -fno-sanitize-recover=all
                      -fno-omit-frame-pointer -D_GLIBCXX_ASSERTIONS)
  add_link_options(-fsanitize=address,undefined)
endif()
if(RVT_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
