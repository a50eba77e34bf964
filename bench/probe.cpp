// rvt2600-probe: runs each measured piece of the plugin's work many times, each run between
// callgrind client requests, so that scripts/callgrind.sh reads the instructions of each from
// one callgrind run. Outside valgrind the requests do nothing; the program then prints what a
// round puts on the line.
#include <valgrind/callgrind.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "BenchKit.h"
#include "HostAdapter.h"
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

// The plugin's piece, then the stand-in host's share of it alone ("name@host"), from what one
// run of the piece asked of the host.
template <class Fn>
void MeasureShares(bench::ReferenceSite& site, const std::string& name, unsigned n, Fn&& fn) {
  Measure(name, n, fn);
  const bench::HostTape tape = site.Tape(fn);
  if (tape.calls.empty() && tape.pauses == 0) {
    Measure(name + "@host", n, [] {});  // nothing asked of the host
  } else {
    Measure(name + "@host", n, [&] { site.RunHostShare(tape); });
  }
}

// The piece again with standard output in a failed state ("name@shut"): the difference is what
// the AC unit's flushed diagnostic lines cost.
template <class Fn>
void MeasureShut(const std::string& name, unsigned n, Fn&& fn) {
  std::cout.setstate(std::ios::badbit);
  Measure(name + "@shut", n, fn);
  std::cout.clear();
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

  const auto usualRound = [&] { site.Round(false); };
  MeasureShares(site, "round_usual", n, usualRound);
  MeasureShut("round_usual", n, usualRound);
  MeasureShares(site, "round_states", n, [&] { site.Round(true); });
  for (const bench::ReplyKind& kind : bench::kReplyKinds) {
    const auto reply = [&] { site.Handle(kind); };
    MeasureShares(site, std::string("reply_") + kind.name, n, reply);
    if (kind.name == std::string("40_41")) MeasureShut(std::string("reply_") + kind.name, n, reply);
    site.EndRound();
  }
  MeasureShares(site, "round_done", n, [&] {
    site.Unit(bench::ReferenceSite::kAcId).RoundDone();
    site.Unit(bench::ReferenceSite::kDcId).RoundDone();
    site.root().rcUnit_->RoundDone();
  });
  ZelVDevice& ac = site.Unit(bench::ReferenceSite::kAcId);
  ZelVDevice& dc = site.Unit(bench::ReferenceSite::kDcId);
  const std::string ia = "ia", channel = "channel_1_a", v = "v";
  MeasureShares(site, "get_value_ac_ia", n, [&] { ac.Get_Value(0, ia); });
  MeasureShares(site, "get_value_ac_channel_1_a", n, [&] { ac.Get_Value(0, channel); });
  MeasureShares(site, "get_value_dc_v", n, [&] { dc.Get_Value(0, v); });
  // What one read of the local time through the host's hook costs (a query reads it once, a
  // round once for the root and twice for each unit); it stays in the plugin's figures.
  Measure("host_local_time", n, [] { zel_local_time(); });
  return 0;
}
