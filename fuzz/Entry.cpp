// The entry point of one fuzz target, named by RVT_FUZZ_TARGET; the same for libFuzzer and for
// the corpus replay.
#include <cstdio>
#include <cstdlib>

#include "Targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const rvt_fuzz::Target target = [] {
    rvt_fuzz::Target t = rvt_fuzz::FindTarget(RVT_FUZZ_TARGET);
    if (!t) {
      std::fprintf(stderr, "no fuzz target named %s\n", RVT_FUZZ_TARGET);
      std::abort();
    }
    return t;
  }();
  return target(data, size);
}
