// The entry point of the history target, for libFuzzer and for the corpus replay.
#include <cstdio>
#include <cstdlib>

#include "HistoryTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string broken = rvt_fuzz::RunHistory(data, size);
  if (broken.empty()) return 0;
  std::fprintf(stderr, "history: %s\n", broken.c_str());
  std::abort();
}
