#include "Cycle.h"

#include "Clock.h"
#include "Line.h"

namespace rvt_fuzz {
namespace {

const boost::posix_time::ptime kStart{boost::gregorian::date(2026, 1, 1),
                                      boost::posix_time::hours(8)};
constexpr unsigned kFirstAc = 11;
constexpr unsigned kFirstDc = 21;

// Notes what a unit was handed and what it answered, then passes the answer on.
int Note(std::vector<PartSeen>* log, const char* op, const unsigned char* data, int remaining,
         int result) {
  PartSeen seen{op, remaining, result, {}};
  if (result >= 0 && result <= remaining) seen.bytes.assign(data, data + result);
  log->push_back(std::move(seen));
  return result;
}

// The real units, with every parse operation noted.
#define RVT_NOTED(Unit, op)                        \
  int op(const unsigned char* d, int r) override { \
    return Note(log_, #op, d, r, Unit::op(d, r));  \
  }

class SeenAC : public RVT2600AC {
 public:
  explicit SeenAC(std::vector<PartSeen>* log) : log_(log) {}
  RVT_NOTED(RVT2600AC, parse40_41)
  RVT_NOTED(RVT2600AC, parse40_43)
  RVT_NOTED(RVT2600AC, parse40_44)

 private:
  std::vector<PartSeen>* log_;
};

class SeenDC : public RVT2600DC {
 public:
  SeenDC(std::vector<PartSeen>* log, const std::string& model) : RVT2600DC(model), log_(log) {}
  RVT_NOTED(RVT2600DC, parse42_41)
  RVT_NOTED(RVT2600DC, parse42_44)

 private:
  std::vector<PartSeen>* log_;
};

class SeenRC : public RVT2600RC {
 public:
  explicit SeenRC(std::vector<PartSeen>* log) : log_(log) {}
  RVT_NOTED(RVT2600RC, parse41_41)
  RVT_NOTED(RVT2600RC, parse41_43)
  RVT_NOTED(RVT2600RC, parse41_44)
  RVT_NOTED(RVT2600RC, parse40_46)
  RVT_NOTED(RVT2600RC, parse42_46)

 private:
  std::vector<PartSeen>* log_;
};

#undef RVT_NOTED

// The request of each step: command, and whether it carries the INFO byte 0xFF (always, never,
// or only under protocol version 0x21).
enum class Info { None, Always, Version21 };
struct StepRequest {
  uint32_t step;
  uint8_t cid1;
  uint8_t cid2;
  Info info;
};
constexpr StepRequest kSteps[] = {
    {0, 0x40, 0x41, Info::Always},    {1, 0x40, 0x43, Info::Always},
    {2, 0x40, 0x44, Info::Always},    {3, 0x40, 0x46, Info::None},
    {4, 0x41, 0x41, Info::None},      {5, 0x41, 0x43, Info::None},
    {6, 0x41, 0x44, Info::None},      {7, 0x42, 0x41, Info::Version21},
    {8, 0x42, 0x44, Info::Version21}, {9, 0x42, 0x46, Info::None},
    {14, 0x40, 0x51, Info::None},
};

const StepRequest* FindStep(uint32_t step) {
  for (const StepRequest& s : kSteps)
    if (s.step == step) return &s;
  return nullptr;
}

uint32_t LeU32At(const std::vector<unsigned char>& b) {
  return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
         static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
}

}  // namespace

Cycle::Cycle(const SiteShape& shape)
    : shape_(shape),
      bench_(shape.worker ? zel::Controller::Work::Thread : zel::Controller::Work::Inline) {
  zel::HostClock::UseVirtual(kStart);
  Json::Value settings(Json::objectValue);
  for (size_t k = 0; k < shape.ac; ++k)
    settings["acSetting"][static_cast<int>(k)]["data_id"] = kFirstAc + unsigned(k);
  for (size_t k = 0; k < shape.dc; ++k)
    settings["dcSetting"][static_cast<int>(k)]["data_id"] = kFirstDc + unsigned(k);
  settings["rcSetting"] = Json::Value(Json::objectValue);
  settings["full_refresh_s"] = shape.fullRefreshS;

  bench_.controller->SetListener([this](const zel::Event& e) { OnEvent(e); });
  root_ = std::make_shared<RVT2600>();
  bench_.Start(*root_, kRootId, settings);
  root_->protocolVersion_ = shape.version21 ? 0x21 : 0x20;

  // The root's units, each replaced by the same unit with its parse operations noted and
  // configured as the root configured it.
  for (size_t k = 0; k < root_->acUnits_.size(); ++k) {
    auto unit = std::make_shared<SeenAC>(&parts_);
    unit->InitV(root_.get(), kFirstAc + unsigned(k), settings["acSetting"][static_cast<int>(k)]);
    root_->acUnits_[k] = unit;
  }
  for (size_t k = 0; k < root_->dcUnits_.size(); ++k) {
    auto unit = std::make_shared<SeenDC>(&parts_, root_->detectedModel_);
    unit->InitV(root_.get(), kFirstDc + unsigned(k), settings["dcSetting"][static_cast<int>(k)]);
    root_->dcUnits_[k] = unit;
  }
  auto rc = std::make_shared<SeenRC>(&parts_);
  rc->InitV(root_.get(), kRootId, settings["rcSetting"]);
  root_->rcUnit_ = rc;
}

Cycle::~Cycle() {
  bench_.controller->Drain();
  bench_.controller->SetListener(nullptr);
  zel::HostClock::UseWallClock();
}

uint8_t Cycle::ExpectedGroup() const {
  const StepRequest* s = FindStep(root_->step_);
  return s != nullptr ? s->cid1 : 0;
}

void Cycle::Refresh(unsigned seconds) {
  ++calls_;
  zel::HostClock::Advance(static_cast<long>(seconds));
  const uint64_t before = requests_;
  const bool modelPending = root_->modelCheckPending_ != 0;
  const boost::posix_time::ptime last = root_->lastUpdate_;
  published_.clear();
  root_->RefreshStatus();
  CheckStep("RefreshStatus");
  if (requests_ > before + 1) Break("RefreshStatus sent more than one request");
  if (requests_ > before && !modelPending && !last.is_special() &&
      zel::HostClock::Now() - last < boost::posix_time::seconds(2))
    Break("a round began less than 2 s after the last one");
  if (!published_.empty()) Break("RefreshStatus published an image");
}

void Cycle::Timeout() {
  ++calls_;
  const uint64_t before = requests_;
  published_.clear();
  zel::ReplyMissing(*root_);
  CheckStep("a missing reply");
  if (requests_ != before) Break("a missing reply was followed by a request");
}

void Cycle::Reply(uint8_t cid1, const uint8_t* info, size_t n) {
  ++calls_;
  if (!Waiting()) return;
  if (n > ReplyRecord::kMaxInfo) n = ReplyRecord::kMaxInfo;
  const uint32_t step = root_->step_;
  const uint64_t before = requests_;
  parts_.clear();
  published_.clear();
  const int result = bench_.Reply(*root_, cid1, std::vector<unsigned char>(info, info + n));
  CheckStep("a reply");
  if (!broken_.empty()) return;

  const Verdict verdict = Judge(step, cid1, info, n);
  const bool sent = requests_ > before;
  if (requests_ > before + 1) Break("one reply was followed by more than one request");
  if (verdict.drop) {
    if (sent) Break(std::string("a request followed a reply the cycle drops: ") + verdict.why);
    if (!published_.empty()) Break(std::string("a dropped reply published: ") + verdict.why);
    // The host restarts a round stalled at a parameter step.
    const bool restarted = (step == 3 || step == 9) && root_->step_ == 0;
    if (root_->step_ != step && !restarted) Break("a dropped reply moved the step");
    return;
  }
  if (published_.empty()) {
    if (!sent) Break("an accepted reply was followed by no request and ended no round");
    return;
  }
  // The end of a round: every unit publishes once, AC units, DC units, then the rectifier.
  ++rounds_;
  std::vector<unsigned> order;
  for (size_t k = 0; k < shape_.ac; ++k) order.push_back(kFirstAc + unsigned(k));
  for (size_t k = 0; k < shape_.dc; ++k) order.push_back(kFirstDc + unsigned(k));
  order.push_back(kRootId);
  if (published_ != order) Break("a round did not publish every unit once, in order");
  if (sent) Break("the end of a round sent a request");
  if (result != 0 || root_->step_ != 0) Break("a round ended without returning to rest");
}

Cycle::Verdict Cycle::Judge(uint32_t step, uint8_t cid1, const uint8_t* info, size_t n) const {
  const StepRequest* s = FindStep(step);
  if (s == nullptr || cid1 != s->cid1) return {true, "wrong command group"};
  const auto refused = [this] {
    for (const PartSeen& p : parts_)
      if (p.result < 0) return true;
    return false;
  };
  switch (step) {
    case 14:  // a short model field is taken as it is (and logged)
      return {false, ""};
    case 0:
      if (n < 2) return {true, "no AC unit count"};
      if (info[1] != shape_.ac) return {true, "AC unit count differs"};
      return PartsFill(2, n);
    case 1:
      if (n <= 2) return {false, ""};
      return PartsFill(2, n);
    case 2:
      if (n < 2) return {true, "short AC alarm reply"};
      return PartsFill(2, n);
    case 4:
    case 5:
    case 6:
      if (parts_.size() != 1 || parts_[0].result < 0 || size_t(parts_[0].result) != n)
        return {true, "the rectifier did not take the whole reply"};
      return {false, ""};
    case 7:
    case 8:
      if (n < 2) return {true, "no DC unit count"};
      if (info[1] != shape_.dc) return {true, "DC unit count differs"};
      return {refused(), "a DC unit refused its part"};
    default:  // 3 and 9: the rectifier's parameters
      return {refused(), "the rectifier refused its parameters"};
  }
}

Cycle::Verdict Cycle::PartsFill(size_t start, size_t n) const {
  int64_t used = static_cast<int64_t>(start);
  for (const PartSeen& p : parts_) {
    if (p.result < 0) return {true, "an AC unit refused its part"};
    used += p.result;
  }
  if (used != static_cast<int64_t>(n)) return {true, "the AC parts do not fill the reply"};
  return {false, ""};
}

void Cycle::OnEvent(const zel::Event& e) {
  // Rules and history come from the worker thread when there is one; requests and images
  // come from the polling thread, which is the one driving this object.
  if (e.kind == zel::Event::Kind::Request) CheckRequest(e);
  if (e.kind == zel::Event::Kind::Publish) CheckImage(e);
}

void Cycle::CheckRequest(const zel::Event& e) {
  ++requests_;
  const StepRequest* s = FindStep(root_->step_);
  if (s == nullptr) return Break("a request at a step without one");
  const bool withInfo = s->info == Info::Always || (s->info == Info::Version21 && shape_.version21);
  const std::vector<unsigned char> info =
      withInfo ? std::vector<unsigned char>{0xFF} : std::vector<unsigned char>{};
  if (e.device != kRootId || e.cid1 != s->cid1 || e.cid2 != s->cid2 || e.bytes != info)
    Break("a request that is not the one of step " + std::to_string(root_->step_));
}

void Cycle::CheckImage(const zel::Event& e) {
  published_.push_back(e.device);
  const std::vector<unsigned char>& b = e.bytes;
  int type = 0;
  size_t want = 0;
  if (e.device >= kFirstAc && e.device < kFirstAc + shape_.ac) {
    const RVT2600AC& unit = *root_->acUnits_[e.device - kFirstAc];
    type = 5106;
    want = sizeof(tele_c_rvt2600_ac) + sizeof(tele_c_rvt2600_ac_channel) * unit.channels.size();
    if (b.size() > 16 && b[16] != unit.channels.size()) Break("AC image counts other channels");
  } else if (e.device >= kFirstDc && e.device < kFirstDc + shape_.dc) {
    type = 5108;
    want = sizeof(tele_c_rvt2600_dc);
  } else if (e.device == kRootId) {
    const RVT2600RC& unit = *root_->rcUnit_;
    type = 5107;
    want = sizeof(tele_c_rvt2600_rc) + sizeof(tele_c_rvt2600_rc_channel) * unit.channels.size();
    if (b.size() > 57 && b[57] != unit.channels.size()) Break("RC image counts other modules");
  } else {
    return Break("an image from an unknown device");
  }
  if (e.dataType != type) Break("an image of the wrong data type");
  if (b.size() != want) {
    return Break("an image of " + std::to_string(b.size()) + " bytes for device " +
                 std::to_string(e.device) + ", not " + std::to_string(want));
  }
  if (LeU32At(b) != e.device) Break("an image that does not start with its data id");
}

void Cycle::CheckStep(const char* after) {
  const uint32_t s = root_->step_;
  if (s > 9 && s != 14) Break("step " + std::to_string(s) + " after " + after);
}

void Cycle::Break(const std::string& rule) {
  if (broken_.empty()) broken_ = rule + " (host call " + std::to_string(calls_) + ")";
}

}  // namespace rvt_fuzz
