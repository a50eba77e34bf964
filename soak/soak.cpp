// rvt2600-soak: the reference site for many rounds in this process, on the virtual clock. The
// simulator's responder answers every request at once, with line noise; every published image
// must equal the simulator's truth, every damaged reply must be dropped by the host, and the
// resident memory must not grow once the run has settled.
#include <chrono>
#include <cstdio>
#include <string>

#include "Clock.h"
#include "SoakKit.h"

int main(int argc, char** argv) {
  const soak::Options options(argc, argv,
                              {{"rounds", "100000"},
                               {"scenario", soak::ReferenceScenario()},
                               {"seed", "1"},
                               {"drop-percent", "1"},
                               {"flip-percent", "1"},
                               {"rss-limit-kib", "64"},
                               {"rss-from", "1000"}});
  if (!options.ok()) {
    std::fprintf(stderr, "rvt2600-soak: %s\n", options.error().c_str());
    return 2;
  }
  const uint64_t rounds = options.Number("rounds");
  const uint64_t limitKiB = options.Number("rss-limit-kib");
  const uint64_t rssFrom = options.Number("rss-from");

  soak::SilencePluginOutput();
  zel::HostClock::UseVirtual(boost::posix_time::ptime(boost::gregorian::date(2026, 1, 1)));
  soak::ResidentKiB();  // its code in memory before the first sample
  const auto start = std::chrono::steady_clock::now();
  uint64_t rssBase = 0, rssMax = 0, rssMaxRound = 0;
  bool ok = false;
  std::string drops;
  bool dropsMatch = false;
  std::string why;
  uint64_t checked = 0;
  try {
    soak::InProcessRig rig(soak::LoadScenario(options.Text("scenario"), soak::NoiseOf(options)));
    ok = rig.RunTo(rounds, [&](uint64_t round) {
      if (limitKiB == 0 || round < rssFrom || (round - rssFrom) % 1000 != 0) return;
      const uint64_t rss = soak::ResidentKiB();
      if (round == rssFrom) rssBase = rss;
      if (rss > rssMax) {
        rssMax = rss;
        rssMaxRound = round;
      }
    });
    why = rig.why();
    checked = rig.imagesChecked;
    dropsMatch = rig.DropsMatch(drops);
  } catch (const std::exception& e) {
    why = e.what();
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  std::fprintf(stderr, "rvt2600-soak: %llu rounds in %.1f s; %llu images equal to the truth\n",
               static_cast<unsigned long long>(rounds), seconds,
               static_cast<unsigned long long>(checked));
  std::fprintf(stderr, "  %s\n", drops.c_str());
  bool pass = ok && dropsMatch;
  if (!ok) std::fprintf(stderr, "  FAILED: %s\n", why.c_str());
  if (ok && !dropsMatch) std::fprintf(stderr, "  FAILED: damaged replies and drops differ\n");
  if (limitKiB != 0 && ok && rounds >= rssFrom) {
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
