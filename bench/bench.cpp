// rvt2600-bench: what the plugin costs per reply, per round and per value query on the
// reference site, in time and in heap allocations (counted by a replaced operator new), its
// own allocations apart from the stand-in host's.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <iostream>
#include <new>

#include "BenchKit.h"
#include "CountingNew.h"
#include "SoakKit.h"

namespace {
std::atomic<uint64_t> allocations{0};
}  // namespace

void bench::OnNew() noexcept {
  allocations.fetch_add(1, std::memory_order_relaxed);
}

namespace {

bench::ReferenceSite& Site() {
  static bench::ReferenceSite site;
  return site;
}

// Allocations made by fn.
template <class Fn>
uint64_t Allocations(Fn&& fn) {
  const uint64_t before = allocations.load();
  fn();
  return allocations.load() - before;
}

void SetPerIteration(benchmark::State& state, const char* name, double total) {
  state.counters[name] = benchmark::Counter(total, benchmark::Counter::kAvgIterations);
}

// fn under the benchmark: "allocs" are the plugin's per iteration, "host_allocs" the stand-in
// host's share of one, run alone from what fn asked of the host (bench::HostTape).
template <class Fn>
void MeasureShares(benchmark::State& state, Fn&& fn) {
  bench::ReferenceSite& site = Site();
  fn();  // warm: anything made once is made
  const bench::HostTape tape = site.Tape(fn);
  const uint64_t host = Allocations([&] { site.RunHostShare(tape); });
  const uint64_t before = allocations.load();
  for (auto _ : state) fn();
  const double total = static_cast<double>(allocations.load() - before);
  SetPerIteration(state, "allocs", total - static_cast<double>(host * state.iterations()));
  state.counters["host_allocs"] = static_cast<double>(host);
}

// The AC unit's diagnostic lines ("a:… b:… c:… f:…", flushed) are the system's own output: the
// "lines_shut" runs put standard output in a failed state, so that the difference to the
// plain run is what the lines cost.
class ShutLines {
 public:
  explicit ShutLines(bool shut) : shut_(shut) {
    if (shut_) std::cout.setstate(std::ios::badbit);
  }
  ~ShutLines() {
    if (shut_) std::cout.clear();
  }

 private:
  bool shut_;
};

// One reply handed to the root; the host's share is the framing of the request that follows,
// or, for the reply that ends the round, the host's side of the round's completion and reset.
void BM_Reply(benchmark::State& state, const bench::ReplyKind& kind, bool linesShut) {
  bench::ReferenceSite& site = Site();
  const ShutLines shut(linesShut);
  MeasureShares(state, [&] { benchmark::DoNotOptimize(site.Handle(kind)); });
  site.EndRound();
}

// A whole round as the host drives it: "usual" reads the analog values and parameters (5
// replies); "states" also every switch and alarm state (10 replies).
void BM_Round(benchmark::State& state, bool statesChanged, bool linesShut) {
  bench::ReferenceSite& site = Site();
  bench::LineBytes line;
  site.Round(statesChanged, &line);
  const ShutLines shut(linesShut);
  MeasureShares(state, [&] { benchmark::DoNotOptimize(site.Round(statesChanged)); });
  state.counters["replies"] = line.requests;
  state.counters["line_bytes"] = static_cast<double>(line.requestBytes + line.replyBytes);
}

// The round's completion alone: RoundDone of the AC, DC and rectifier units.
void BM_RoundDone(benchmark::State& state) {
  bench::ReferenceSite& site = Site();
  MeasureShares(state, [&] {
    site.Unit(bench::ReferenceSite::kAcId).RoundDone();
    site.Unit(bench::ReferenceSite::kDcId).RoundDone();
    site.root().rcUnit_->RoundDone();
  });
}

void BM_GetValue(benchmark::State& state, unsigned dataId, const std::string& name) {
  bench::ReferenceSite& site = Site();
  site.Round(false);
  ZelVDevice& unit = site.Unit(dataId);
  MeasureShares(state, [&] { benchmark::DoNotOptimize(unit.Get_Value(0, name)); });
}

void Register() {
  for (const bench::ReplyKind& kind : bench::kReplyKinds)
    benchmark::RegisterBenchmark((std::string("BM_Reply/") + kind.name).c_str(), BM_Reply, kind,
                                 false);
  benchmark::RegisterBenchmark("BM_Reply/40_41/lines_shut", BM_Reply, bench::KindNamed("40_41"),
                               true);
  benchmark::RegisterBenchmark("BM_Round/usual", BM_Round, false, false);
  benchmark::RegisterBenchmark("BM_Round/usual/lines_shut", BM_Round, false, true);
  benchmark::RegisterBenchmark("BM_Round/states", BM_Round, true, false);
  benchmark::RegisterBenchmark("BM_RoundDone", BM_RoundDone);
  benchmark::RegisterBenchmark("BM_GetValue/ac_ia", BM_GetValue, bench::ReferenceSite::kAcId,
                               std::string("ia"));
  benchmark::RegisterBenchmark("BM_GetValue/ac_channel_1_a", BM_GetValue,
                               bench::ReferenceSite::kAcId, std::string("channel_1_a"));
  benchmark::RegisterBenchmark("BM_GetValue/dc_v", BM_GetValue, bench::ReferenceSite::kDcId,
                               std::string("v"));
}

}  // namespace

// The figures go to standard error: standard output takes what the plugin prints for itself
// and goes to /dev/null. --benchmark_out=FILE writes them to a file as well.
int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  soak::SilencePluginOutput();
  Register();
  benchmark::ConsoleReporter display(isatty(STDERR_FILENO)
                                         ? benchmark::ConsoleReporter::OO_Defaults
                                         : benchmark::ConsoleReporter::OO_Tabular);
  display.SetOutputStream(&std::cerr);
  display.SetErrorStream(&std::cerr);
  benchmark::RunSpecifiedBenchmarks(&display);
  benchmark::Shutdown();
  return 0;
}
