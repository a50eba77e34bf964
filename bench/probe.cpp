// rvt2600-probe: runs each measured piece of the plugin's work many times, each run between
// callgrind client requests, so that scripts/callgrind.sh reads the instructions of each from
// one callgrind run. Outside valgrind the requests do nothing; the program then prints what a
// round puts on the line.
#include <valgrind/callgrind.h>

#include <cstdio>
#include <string>

#include "BenchKit.h"
#include "Line.h"
#include "SoakKit.h"

namespace {

// fn, n times, counted by callgrind alone and dumped as "name/n"; once before, so that what is
// made on the first call only (a static regex, a buffer) is not counted.
template <class Fn>
void Measure(const std::string& name, unsigned n, Fn&& fn) {
  const std::string dump = name + "/" + std::to_string(n);
  fn();
  CALLGRIND_ZERO_STATS;
  CALLGRIND_TOGGLE_COLLECT;
  for (unsigned k = 0; k < n; ++k) fn();
  CALLGRIND_TOGGLE_COLLECT;
  CALLGRIND_DUMP_STATS_AT(dump.c_str());
}

void PrintLine(const char* round, const bench::LineBytes& line, unsigned baud) {
  const size_t bytes = line.requestBytes + line.replyBytes;
  std::fprintf(stderr,
               "%s round: %u requests of %zu bytes, replies of %zu bytes: %zu bytes, %u ms on the "
               "line at %u baud\n",
               round, line.requests, line.requestBytes, line.replyBytes, bytes,
               zel::LineTimeMs(bytes, baud), baud);
}

}  // namespace

int main(int argc, char** argv) {
  const unsigned n = argc > 1 ? static_cast<unsigned>(std::stoul(argv[1])) : 1000;
  soak::SilencePluginOutput();
  bench::ReferenceSite site;

  bench::LineBytes usual, states;
  site.Round(false, &usual);
  site.Round(true, &states);
  PrintLine("usual", usual, site.root().baudRate_);
  PrintLine("states", states, site.root().baudRate_);

  Measure("round_usual", n, [&] { site.Round(false); });
  Measure("round_states", n, [&] { site.Round(true); });
  for (const bench::ReplyKind& kind : bench::kReplyKinds) {
    Measure(std::string("reply_") + kind.name, n, [&] { site.Handle(kind); });
    Measure(std::string("host_after_") + kind.name, n, [&] { site.HostShareOfLastHandle(); });
    site.Round(false);
  }
  Measure("round_done", n, [&] {
    site.Unit(bench::ReferenceSite::kAcId).RoundDone();
    site.Unit(bench::ReferenceSite::kDcId).RoundDone();
    site.root().rcUnit_->RoundDone();
  });
  ZelVDevice& ac = site.Unit(bench::ReferenceSite::kAcId);
  const std::string ia = "ia", channel = "channel_1_a";
  Measure("get_value_ac_ia", n, [&] { ac.Get_Value(0, ia); });
  Measure("get_value_ac_channel_1_a", n, [&] { ac.Get_Value(0, channel); });
  return 0;
}
