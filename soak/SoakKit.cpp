#include "SoakKit.h"

#include <fcntl.h>
#include <json/reader.h>
#include <json/writer.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <sstream>

#include "Bench.h"
#include "Clock.h"
#include "Link.h"
#include "Providers.h"

namespace soak {
namespace {

// A round that needs more turns of the loop than this does not complete: a sound round takes
// eleven requests at most, every damaged reply two turns more, and a damaged parameter reply
// the whole round again.
constexpr unsigned kTurnsPerRound = 1000;

}  // namespace

const char* ReferenceScenario() {
  return RVT_REFERENCE_SCENARIO;
}

sim::Scenario LoadScenario(const std::string& path, const sim::LineNoise& noise) {
  std::ifstream in(path);
  if (!in) throw sim::ScenarioError(path + ": cannot read the file");
  Json::Value root;
  Json::CharReaderBuilder builder;
  std::string errors;
  if (!Json::parseFromStream(builder, in, &root, &errors))
    throw sim::ScenarioError(path + ": " + errors);
  if (!root.isObject()) throw sim::ScenarioError(path + ": expected a JSON object");
  root.removeMember("line_noise");
  if (noise.Active()) {
    Json::Value& n = root["line_noise"];
    n["seed"] = Json::UInt64(noise.seed);
    n["drop_percent"] = noise.dropPercent;
    n["flip_percent"] = noise.flipPercent;
  }
  return sim::Scenario::Parse(Json::writeString(Json::StreamWriterBuilder(), root), path);
}

Json::Value RootSettings(const Json::Value& line) {
  Json::Value settings = line.isObject() ? line : Json::Value(Json::objectValue);
  settings["acSetting"][0]["data_id"] = kAcId;
  settings["dcSetting"][0]["data_id"] = kDcId;
  settings["rcSetting"] = Json::Value(Json::objectValue);
  return settings;
}

// ---- Rig ----

Rig::Rig(sim::Scenario scenario, const Json::Value& lineSettings)
    : scenario_(std::move(scenario)),
      controller_(std::make_shared<zel::Controller>(zel::Controller::Work::Inline,
                                                    std::make_shared<zel::MemoryHistory>(true))) {
  ids_.ac = {kAcId};
  ids_.dc = {kDcId};
  ids_.rc = kRootId;
  root_.reset(RVT2600Provider().create());
  dev_ = dynamic_cast<PMBusProtocol*>(root_.get());
  if (dev_ == nullptr || !root_->Init(controller_, kRootId, RootSettings(lineSettings)))
    throw std::logic_error("the root device does not take the reference settings");
  controller_->SetListener([this](const zel::Event& e) {
    if (e.kind == zel::Event::Kind::Publish) CheckImage(e);
  });
}

Rig::~Rig() {
  controller_->SetListener({});
  if (root_) root_->ClosePort();
}

void Rig::Open(std::shared_ptr<ZelLink> link) {
  root_->AttachLink(std::move(link));
  root_->OpenPort();
}

void Rig::CheckImage(const zel::Event& e) {
  const unsigned round = SimRound();
  if (round != truthRound_) {
    const TTime t = get_ttime(zel::HostClock::Now());
    sim::Stamp stamp;
    std::copy(std::begin(t.bytes), std::end(t.bytes), stamp.begin());
    if (!sim::TruthImages(scenario_.SiteAt(round), ids_, stamp, truth_)) {
      why_ = "the site of round " + std::to_string(round) + " has no truth to check against";
      ++imagesWrong;
      return;
    }
    truthRound_ = round;
  }
  const std::vector<uint8_t>* expected = nullptr;
  if (e.device == kAcId && e.dataType == 5106) expected = &truth_.ac[0];
  if (e.device == kDcId && e.dataType == 5108) expected = &truth_.dc[0];
  if (e.device == kRootId && e.dataType == 5107) expected = &truth_.rc;
  ++imagesChecked;
  if (expected != nullptr && *expected == e.bytes) return;
  ++imagesWrong;
  if (why_.empty())
    why_ = "round " + std::to_string(Rounds() + 1) + ": the image of " + std::to_string(e.device) +
           " (" + std::to_string(e.dataType) + ") is " + zel::ToHex(e.bytes) +
           (expected ? ", the truth of simulator round " + std::to_string(round) + " is " +
                           zel::ToHex(*expected)
                     : ", which no unit publishes");
}

bool Rig::RunTo(uint64_t rounds, const std::function<void(uint64_t)>& afterRound) {
  unsigned turns = 0;
  while (Rounds() < rounds && imagesWrong == 0) {
    if (!LineFailure().empty()) {
      why_ = LineFailure();
      return false;
    }
    const uint64_t before = Rounds();
    if (dev_->outstanding_) {
      Pump();
    } else {
      zel::HostClock::Advance(2);
      root_->RefreshStatus();
    }
    if (Rounds() != before) {
      turns = 0;
      controller_->ClearJournal();  // a long run keeps no journal
      if (imagesChecked != 3 * Rounds()) {
        why_ = "round " + std::to_string(Rounds()) + " published " +
               std::to_string(imagesChecked - 3 * before) + " images, not 3";
        return false;
      }
      if (afterRound) afterRound(Rounds());
    } else if (++turns > kTurnsPerRound) {
      why_ = "round " + std::to_string(Rounds() + 1) + " does not complete";
      return false;
    }
  }
  return imagesWrong == 0;
}

bool Rig::DropsMatch(std::string& report) const {
  const zel::LineCounters& c = Counters();
  const sim::LineDamage d = Damage();
  std::string kinds;
  for (size_t k = 0; k < zel::kDropKinds; ++k) {
    if (c.drops[k] == 0) continue;
    kinds += (kinds.empty() ? "" : ", ") + std::string(zel::DropText(static_cast<zel::Drop>(k))) +
             " " + std::to_string(c.drops[k]);
  }
  const bool match = c.Failures() == d.Total() && c[zel::Drop::Unsolicited] == 0;
  report = std::to_string(c.requests) + " requests, " + std::to_string(c.replies) +
           " replies handed on; " + std::to_string(d.Total()) + " damaged replies (" +
           std::to_string(d.dropped) + " lost a byte, " + std::to_string(d.flipped) + " a bit), " +
           std::to_string(c.Failures()) + " dropped by the host" +
           (kinds.empty() ? "" : " (" + kinds + ")");
  return match;
}

// ---- InProcessRig ----

// The line: a request goes to the responder at once; its reply waits here for the next turn.
class InProcessRig::Link : public ZelLink {
 public:
  explicit Link(sim::Scenario scenario) : responder(std::move(scenario)) {}
  bool Open() override { return true; }
  void Close() override {}
  bool IsOpen() const override { return true; }
  void Write(const unsigned char* data, unsigned int len) override {
    for (sim::Output& out : responder.Feed(data, len))
      for (std::string& piece : out.pieces) pending.push_back(std::move(piece));
  }

  sim::Responder responder;
  std::deque<std::string> pending;
};

InProcessRig::InProcessRig(sim::Scenario scenario)
    : Rig(scenario), link_(std::make_shared<Link>(std::move(scenario))) {
  Open(link_);
}

sim::LineDamage InProcessRig::Damage() const {
  return link_->responder.Damage();
}

unsigned InProcessRig::SimRound() const {
  return link_->responder.Round();
}

// The reply's bytes as they come; once there are none, the reply time or the gap time runs out.
void InProcessRig::Pump() {
  if (!link_->pending.empty()) {
    std::string piece = std::move(link_->pending.front());
    link_->pending.pop_front();
    dev_->process(reinterpret_cast<unsigned char*>(&piece[0]),
                  static_cast<unsigned int>(piece.size()));
  } else if (zel::Line(*dev_).receiver.InFrame()) {
    zel::FrameGap(*dev_);
  } else {
    zel::ReplyMissing(*dev_);
  }
}

// ---- Options ----

Options::Options(int argc, char** argv, const std::map<std::string, std::string>& defaults)
    : values_(defaults) {
  for (int k = 1; k < argc; ++k) {
    const std::string name = argv[k];
    const auto it = name.rfind("--", 0) == 0 ? values_.find(name.substr(2)) : values_.end();
    if (it == values_.end() || k + 1 == argc) {
      error_ = "unknown option or missing value: " + name;
      return;
    }
    it->second = argv[++k];
  }
}

uint64_t Options::Number(const std::string& name) const {
  return std::strtoull(Text(name).c_str(), nullptr, 10);
}

double Options::Real(const std::string& name) const {
  return std::strtod(Text(name).c_str(), nullptr);
}

Options RunOptions(int argc, char** argv, const std::string& rounds,
                   std::map<std::string, std::string> own) {
  own.insert({{"rounds", rounds},
              {"scenario", ReferenceScenario()},
              {"seed", "1"},
              {"drop-percent", "1"},
              {"flip-percent", "1"}});
  return Options(argc, argv, own);
}

sim::LineNoise NoiseOf(const Options& options) {
  sim::LineNoise noise;
  noise.seed = options.Number("seed");
  noise.dropPercent = options.Real("drop-percent");
  noise.flipPercent = options.Real("flip-percent");
  return noise;
}

void Outcome::Report(const char* program, const char* where) const {
  std::fprintf(stderr, "%s: %llu rounds %s in %.1f s; %llu images equal to the truth\n  %s\n",
               program, static_cast<unsigned long long>(rounds), where, seconds,
               static_cast<unsigned long long>(checked), drops.c_str());
  if (!ok) std::fprintf(stderr, "  FAILED: %s\n", why.c_str());
  if (ok && !dropsMatch) std::fprintf(stderr, "  FAILED: damaged replies and drops differ\n");
}

Outcome Run(const Options& options, const std::function<std::unique_ptr<Rig>(sim::Scenario)>& make,
            const std::function<void(uint64_t)>& afterRound) {
  SilencePluginOutput();
  zel::HostClock::UseVirtual(boost::posix_time::ptime(boost::gregorian::date(2026, 1, 1)));
  Outcome out;
  out.rounds = options.Number("rounds");
  const auto start = std::chrono::steady_clock::now();
  try {
    std::unique_ptr<Rig> rig = make(LoadScenario(options.Text("scenario"), NoiseOf(options)));
    out.ok = rig->RunTo(out.rounds, afterRound);
    out.why = rig->why();
    out.checked = rig->imagesChecked;
    out.dropsMatch = rig->DropsMatch(out.drops);
  } catch (const std::exception& e) {
    out.ok = false;
    out.why = e.what();
  }
  out.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return out;
}

void SilencePluginOutput() {
  std::fflush(stdout);
  const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (devNull < 0) return;
  dup2(devNull, STDOUT_FILENO);
  close(devNull);
}

uint64_t ResidentKiB() {
  // Read without stdio, so that sampling takes no memory of its own.
  char text[128];
  const int fd = open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  const ssize_t n = read(fd, text, sizeof text - 1);
  close(fd);
  if (n <= 0) return 0;
  text[n] = '\0';
  char* end = nullptr;
  std::strtoull(text, &end, 10);  // the size, then the resident pages
  const uint64_t pages = std::strtoull(end, nullptr, 10);
  return pages * static_cast<uint64_t>(sysconf(_SC_PAGESIZE)) / 1024;
}

}  // namespace soak
