// rvt2600-soak: the reference site for many rounds in this process, on the virtual clock. The
// simulator's responder answers every request at once, with line noise; every published image
// must equal the simulator's truth, every damaged reply must be dropped by the host, and the
// resident memory must not grow once the run has settled.
#include <cstdio>

#include "SoakKit.h"

int main(int argc, char** argv) {
  const soak::Options options =
      soak::RunOptions(argc, argv, "100000", {{"rss-limit-kib", "64"}, {"rss-from", "1000"}});
  if (!options.ok()) {
    std::fprintf(stderr, "rvt2600-soak: %s\n", options.error().c_str());
    return 2;
  }
  const uint64_t limitKiB = options.Number("rss-limit-kib");
  const uint64_t rssFrom = options.Number("rss-from");

  soak::ResidentKiB();  // its code in memory before the first sample
  uint64_t rssBase = 0, rssMax = 0, rssMaxRound = 0;
  const soak::Outcome out = soak::Run(
      options,
      [](sim::Scenario scenario) { return std::make_unique<soak::InProcessRig>(scenario); },
      [&](uint64_t round) {
        if (limitKiB == 0 || round < rssFrom || (round - rssFrom) % 1000 != 0) return;
        const uint64_t rss = soak::ResidentKiB();
        if (round == rssFrom) rssBase = rss;
        if (rss > rssMax) {
          rssMax = rss;
          rssMaxRound = round;
        }
      });
  out.Report("rvt2600-soak", "in process");

  bool pass = out.Passed();
  if (limitKiB != 0 && out.ok && out.rounds >= rssFrom) {
    const uint64_t growth = rssMax > rssBase ? rssMax - rssBase : 0;
    std::fprintf(
        stderr,
        "  resident memory at round %llu: %llu KiB; highest after it: %llu KiB (round "
        "%llu), growth %llu KiB, limit %llu KiB\n",
        static_cast<unsigned long long>(rssFrom), static_cast<unsigned long long>(rssBase),
        static_cast<unsigned long long>(rssMax), static_cast<unsigned long long>(rssMaxRound),
        static_cast<unsigned long long>(growth), static_cast<unsigned long long>(limitKiB));
    if (growth > limitKiB) {
      std::fprintf(stderr, "  FAILED: resident memory grew by more than the limit\n");
      pass = false;
    }
  }
  return pass ? 0 : 1;
}
