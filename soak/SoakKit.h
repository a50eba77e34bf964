#pragma once

// What the soak and the line-fault runs share: the reference site and its configuration, a
// stand-in host that keeps only the newest image of each unit, the plugin's root device on it,
// the rounds loop on the virtual clock, and the checks of every published image against the
// simulator's truth and of every damaged reply against the host's drop counters.
#include <json/value.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Controller.h"
#include "Line.h"
#include "PMBusProtocol.h"
#include "Responder.h"
#include "Scenario.h"
#include "Truth.h"

namespace soak {

constexpr unsigned kRootId = 100;
constexpr unsigned kAcId = 101;
constexpr unsigned kDcId = 102;

// examples/scenarios/reference.json of the source tree.
const char* ReferenceScenario();

// A scenario file with the given line noise in place of its own.
sim::Scenario LoadScenario(const std::string& path, const sim::LineNoise& noise);

// The root's settings for the reference site: AC unit 101, DC unit 102, the rectifier unit, and
// the line settings given (port, reply_timeout_ms, gap_ms, ...).
Json::Value RootSettings(const Json::Value& line = Json::Value(Json::objectValue));

// The plugin's root device for the reference site on the stand-in host (work items inline),
// polled round after round on the virtual clock. A subclass gives it its line.
class Rig {
 public:
  explicit Rig(sim::Scenario scenario, const Json::Value& lineSettings = Json::Value());
  virtual ~Rig();
  Rig(const Rig&) = delete;
  Rig& operator=(const Rig&) = delete;

  // Polls until `rounds` rounds are complete in all, calling afterRound after each; false, with
  // why(), when a round does not complete or a check fails on the way.
  bool RunTo(uint64_t rounds, const std::function<void(uint64_t round)>& afterRound = {});

  uint64_t Rounds() const { return zel::Line(*dev_).rounds; }
  const zel::LineCounters& Counters() const { return zel::Line(*dev_).counters; }
  virtual sim::LineDamage Damage() const = 0;
  const std::string& why() const { return why_; }
  // What broke the line itself (a read or write error), if anything.
  virtual std::string LineFailure() const { return ""; }

  uint64_t imagesChecked = 0;
  uint64_t imagesWrong = 0;

  // "N requests, M replies; K damaged replies (d dropped bytes, f flipped bits), all dropped:
  // kind n, ...", and whether every damaged reply, and nothing else, was dropped.
  bool DropsMatch(std::string& report) const;

 protected:
  // Attaches the line and opens the port.
  void Open(std::shared_ptr<ZelLink> link);
  // One turn of the host's loop while a request waits for its reply.
  virtual void Pump() = 0;
  // The simulator's round that the last reply belongs to.
  virtual unsigned SimRound() const = 0;

  sim::Scenario scenario_;
  std::shared_ptr<zel::Controller> controller_;
  std::shared_ptr<ZelSPDevice> root_;
  PMBusProtocol* dev_ = nullptr;

 private:
  void CheckImage(const zel::Event& e);

  sim::ImageIds ids_;
  unsigned truthRound_ = ~0u;
  sim::Images truth_;
  std::string why_;
};

// The simulator's responder in this process: each request written on the line is answered at
// once, and the reply bytes go back through the host's receiver.
class InProcessRig : public Rig {
 public:
  explicit InProcessRig(sim::Scenario scenario);
  sim::LineDamage Damage() const override;

 protected:
  void Pump() override;
  unsigned SimRound() const override;

 private:
  class Link;
  std::shared_ptr<Link> link_;
};

// Reads the options "--name value" of a program; what is not given keeps its default.
class Options {
 public:
  Options(int argc, char** argv, const std::map<std::string, std::string>& defaults);
  const std::string& Text(const std::string& name) const { return values_.at(name); }
  uint64_t Number(const std::string& name) const;
  double Real(const std::string& name) const;
  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }

 private:
  std::map<std::string, std::string> values_;
  std::string error_;
};

// The options of both runs, --rounds, --scenario (the reference site), --seed, --drop-percent
// and --flip-percent (1 % each), with a program's own and its number of rounds.
Options RunOptions(int argc, char** argv, const std::string& rounds,
                   std::map<std::string, std::string> own = {});

// The line noise the options give: --seed, --drop-percent, --flip-percent.
sim::LineNoise NoiseOf(const Options& options);

// What a run found.
struct Outcome {
  bool ok = false;          // every round complete, every image equal to the truth
  bool dropsMatch = false;  // every damaged reply dropped, nothing else
  std::string why;
  std::string drops;
  uint64_t rounds = 0;
  uint64_t checked = 0;
  double seconds = 0;

  bool Passed() const { return ok && dropsMatch; }
  // On standard error: "<program>: N rounds <where> in S s; ...", the drops, what failed.
  void Report(const char* program, const char* where) const;
};

// Silences the plugin's own output, starts the virtual clock, builds the rig with
// make(scenario) from the options' scenario and noise, and runs it for --rounds rounds.
Outcome Run(const Options& options, const std::function<std::unique_ptr<Rig>(sim::Scenario)>& make,
            const std::function<void(uint64_t round)>& afterRound = {});

// Sends what the plugin prints for itself on standard output ("a:... b:...", "parse 42 41: ...")
// to /dev/null: a long run reports on standard error only.
void SilencePluginOutput();

// Resident memory of this process in KiB.
uint64_t ResidentKiB();

}  // namespace soak
