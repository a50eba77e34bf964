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
  const uint64_t before = root_->requestsSent_;
  const int result = root_->process_payload();
  root_->reply_ = nullptr;
  lastEnded_ = root_->requestsSent_ == before;
  return result;
}

void ReferenceSite::HostShareOfLastHandle() {
  if (lastEnded_) {
    root_->Reset();
    return;
  }
  // The request the root sent last, with the command group byte where the chain carries one.
  const unsigned char cid1 = root_->lastCid1_, cid2 = root_->lastCid2_;
  if (cid1 == 0x40 && cid2 != 0x46 && cid2 != 0x51) {
    root_->write_pmbus_cmd(cid1, cid2, &Root::commandGroup_, 1);
  } else {
    root_->write_pmbus_cmd(cid1, cid2);
  }
}

}  // namespace bench
