#include "BenchKit.h"

#include <json/value.h>

#include <stdexcept>

#include "Clock.h"
#include "Encoder.h"
#include "Line.h"
#include "Scenario.h"
#include "SoakKit.h"

namespace bench {

using Root = PMBusPower<RVT2600AC, RVT2600DC, RVT2600RC>;

// The local time whose stamp the host's share makes; the clock reads themselves (the host's
// local-time hook) stay in the plugin's share.
const boost::posix_time::ptime kStampTime(boost::gregorian::date(2026, 1, 1),
                                          boost::posix_time::hours(8));

const ReplyKind& KindNamed(const std::string& name) {
  for (const ReplyKind& kind : kReplyKinds)
    if (name == kind.name) return kind;
  throw std::invalid_argument("no reply " + name);
}

HostCall* NullController::Note(HostCall::Kind kind, unsigned device) {
  if (tape == nullptr) return nullptr;
  tape->calls.emplace_back();
  HostCall& c = tape->calls.back();
  c.kind = kind;
  c.device = device;
  return &c;
}

void NullController::Publish(unsigned int device, int dataType, const unsigned char* image,
                             unsigned int len) {
  if (HostCall* c = Note(HostCall::Kind::Publish, device)) {
    c->dataType = dataType;
    c->bytes.assign(image, image + len);
  }
}

bool NullController::EvaluateRules(unsigned int device, const std::vector<rule_value>& rules) {
  if (HostCall* c = Note(HostCall::Kind::Rules, device)) c->rules = rules;
  return false;
}

void NullController::SaveHistory(unsigned int device, const unsigned char* image,
                                 unsigned int len) {
  if (HostCall* c = Note(HostCall::Kind::Save, device)) c->bytes.assign(image, image + len);
}

void NullController::RunWork(std::function<void()> item) {
  // The work item runs on the unit's behalf: the device is the one of the rules it evaluates.
  Note(HostCall::Kind::Work, 0);
  item();
}

void NullController::Request(unsigned int device, unsigned char cid1, unsigned char cid2,
                             const unsigned char* info, unsigned int len) {
  if (HostCall* c = Note(HostCall::Kind::Request, device)) {
    c->cid1 = cid1;
    c->cid2 = cid2;
    if (info != nullptr) c->bytes.assign(info, info + len);
  }
}

void NullController::DeviceReset(unsigned int device) {
  Note(HostCall::Kind::Reset, device);
}

const ReplyKind kReplyKinds[11] = {
    {sim::kModel, "40_51", Root::STEP_MODEL},
    {sim::kAcAnalog, "40_41", Root::STEP_AC_ANALOG},
    {sim::kAcSwitch, "40_43", Root::STEP_AC_SWITCH},
    {sim::kAcAlarm, "40_44", Root::STEP_AC_ALARM},
    {sim::kRcAnalog, "41_41", Root::STEP_RC_ANALOG},
    {sim::kRcSwitch, "41_43", Root::STEP_RC_SWITCH},
    {sim::kRcAlarm, "41_44", Root::STEP_RC_ALARM},
    {sim::kDcAnalog, "42_41", Root::STEP_DC_ANALOG},
    {sim::kDcAlarm, "42_44", Root::STEP_DC_ALARM},
    {sim::kAcParam, "40_46", Root::STEP_AC_PARAM},
    {sim::kDcParam, "42_46", Root::STEP_DC_PARAM},
};

ReferenceSite::ReferenceSite()
    : controller_(std::make_shared<NullController>()), root_(std::make_shared<RVT2600>()) {
  zel::HostClock::UseVirtual(boost::posix_time::ptime(boost::gregorian::date(2026, 1, 1)));
  const sim::Scenario scenario = sim::Scenario::Load(soak::ReferenceScenario());
  const sim::Site& site = scenario.SiteAt(1);
  for (const ReplyKind& kind : kReplyKinds) {
    for (bool changed : {false, true}) {
      sim::Flags flags;
      if (changed)
        flags = {sim::kSwitchChanged | sim::kAlarmChanged, sim::kSwitchChanged | sim::kAlarmChanged,
                 sim::kAlarmChanged};
      sim::Info info;
      sim::EncodeInfo(site, kind.command, flags, info);
      std::vector<unsigned char>& r = records_[{kind.command, changed}];
      const size_t n = info.bytes.size();
      r = {site.version,
           site.address,
           static_cast<unsigned char>(kind.command >> 8),
           0,
           static_cast<unsigned char>((2 * n) & 0xFF),
           static_cast<unsigned char>((2 * n) >> 8)};
      r.insert(r.end(), info.bytes.begin(), info.bytes.end());
    }
  }

  Json::Value settings(Json::objectValue);
  settings["acSetting"][0]["data_id"] = kAcId;
  settings["dcSetting"][0]["data_id"] = kDcId;
  settings["rcSetting"] = Json::Value(Json::objectValue);
  settings["full_refresh_s"] = 4000000000u;  // no full refresh in the middle of a measurement
  if (!root_->Init(controller_, kRootId, settings) || !root_->OpenPort())
    throw std::logic_error("the root does not take the reference settings");
  // The model query, then a first round that reads every state and a second one as usual.
  root_->RefreshStatus();
  root_->HandleReply(reinterpret_cast<ReplyRecord*>(Record(sim::kModel, false).data()));
  int replies = 0;
  for (;;) {
    const uint16_t command = sim::CommandOf(root_->lastCid1_, root_->lastCid2_);
    if (root_->HandleReply(reinterpret_cast<ReplyRecord*>(Record(command, false).data())) == 0)
      break;
    if (++replies > 12) throw std::logic_error("the first round does not end");
  }
  if (Round(false) < 0) throw std::logic_error("a round does not end");
}

ReferenceSite::~ReferenceSite() = default;

std::vector<unsigned char>& ReferenceSite::Record(uint16_t command, bool statesChanged) {
  return records_.at({command, statesChanged});
}

int ReferenceSite::Round(bool statesChanged, LineBytes* line) {
  zel::HostClock::Advance(2);
  if (!root_->RefreshStatus()) return -1;
  for (int replies = 1; replies <= 12; ++replies) {
    const uint16_t command = sim::CommandOf(root_->lastCid1_, root_->lastCid2_);
    std::vector<unsigned char>& record = Record(command, statesChanged);
    if (line != nullptr) {
      ++line->requests;
      line->requestBytes += zel::Line(*root_).requestBytes;
      line->replyBytes += 18 + 2 * (record.size() - 6);  // SOI, 16 characters, INFO, EOI
    }
    if (root_->HandleReply(reinterpret_cast<ReplyRecord*>(record.data())) == 0) return replies;
  }
  return -1;
}

int ReferenceSite::Handle(const ReplyKind& kind) {
  root_->step_ = kind.step;
  root_->reply_ = reinterpret_cast<ReplyRecord*>(Record(kind.command, false).data());
  const int result = root_->process_payload();
  root_->reply_ = nullptr;
  return result;
}

HostTape ReferenceSite::Tape(const std::function<void()>& fn) {
  HostTape tape;
  const uint64_t pauses = zel::HostClock::PauseCount();
  controller_->tape = &tape;
  fn();
  controller_->tape = nullptr;
  tape.pauses = zel::HostClock::PauseCount() - pauses;
  tape.pauseUs = zel::HostClock::LastPause();
  return tape;
}

ZelVDevice& ReferenceSite::UnitOf(const HostCall& call) {
  if (call.device == kRootId) return *root_->rcUnit_;
  return Unit(call.device);
}

void ReferenceSite::RunHostShare(const HostTape& tape) {
  // What the host's calls change of the root's line state is put back afterwards.
  const unsigned char cid1 = root_->lastCid1_, cid2 = root_->lastCid2_;
  const uint8_t outstanding = root_->outstanding_;
  const uint64_t sent = root_->requestsSent_;
  for (uint64_t k = 0; k < tape.pauses; ++k) zel_pause(tape.pauseUs);
  const std::vector<HostCall>& calls = tape.calls;
  for (size_t k = 0; k < calls.size(); ++k) {
    const HostCall& c = calls[k];
    switch (c.kind) {
      case HostCall::Kind::Request:
        root_->write_pmbus_cmd(c.cid1, c.cid2, c.bytes.empty() ? nullptr : c.bytes.data(),
                               static_cast<unsigned int>(c.bytes.size()));
        break;
      case HostCall::Kind::Publish: {
        ZelVDevice& unit = UnitOf(c);
        unit.SendSP(c.dataType, c.bytes.data(), static_cast<unsigned int>(c.bytes.size()), false);
        stamp_ = get_ttime(kStampTime);
        break;
      }
      case HostCall::Kind::Work: {
        // The rules the item evaluates were built into the unit's list before it was handed over.
        const HostCall* rules = nullptr;
        for (size_t n = k + 1; n < calls.size() && rules == nullptr; ++n)
          if (calls[n].kind == HostCall::Kind::Rules) rules = &calls[n];
        if (rules == nullptr) break;
        ZelVDevice& unit = UnitOf(*rules);
        for (const rule_value& r : rules->rules)
          unit.CheckThresholdBool(r.level, r.id, r.code, r.name, r.text, r.active != 0,
                                  static_cast<uint16_t>(r.seq));
        unit.CheckThresholdWork([] {});
        break;
      }
      case HostCall::Kind::Rules: {
        ZelVDevice& unit = UnitOf(c);
        unit.DoBatchCheckThreshold(unit.rules_);
        unit.rules_.clear();  // the host's copies go with the item; the capacity stays
        break;
      }
      case HostCall::Kind::Save:
        UnitOf(c).SaveDeviceHistory(c.bytes.data(), static_cast<unsigned int>(c.bytes.size()));
        break;
      case HostCall::Kind::Reset:
        root_->PMBusProtocol::Reset();
        break;
    }
  }
  root_->lastCid1_ = cid1;
  root_->lastCid2_ = cid2;
  root_->outstanding_ = outstanding;
  root_->requestsSent_ = sent;
}

}  // namespace bench
