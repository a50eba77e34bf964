#pragma once

#include <json/value.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "HostAdapter.h"

// The protocol master of one power system: owns the AC, DC and rectifier units and walks the
// command chain, one request at a time, cutting each reply among the units it concerns.
template <class ACUnit, class DCUnit, class RCUnit>
class PMBusPower : public PMBusProtocol {
 public:
  // step_ holds the step whose request is outstanding; 10 to 13 are not used.
  enum : uint32_t {
    STEP_AC_ANALOG = 0,
    STEP_AC_SWITCH = 1,
    STEP_AC_ALARM = 2,
    STEP_AC_PARAM = 3,
    STEP_RC_ANALOG = 4,
    STEP_RC_SWITCH = 5,
    STEP_RC_ALARM = 6,
    STEP_DC_ANALOG = 7,
    STEP_DC_ALARM = 8,
    STEP_DC_PARAM = 9,
    STEP_MODEL = 14,
  };

  explicit PMBusPower(std::vector<std::string> supportedModels)
      : supportedModels_(std::move(supportedModels)) {}
  ~PMBusPower() override = default;

  using VDeviceInterface::LoadFromCache;
  // The root keeps no image of its own.
  bool LoadFromCache(const unsigned char*, int) override { return true; }

  bool InitSetting(const Json::Value& settings) override;
  std::shared_ptr<ZelVDevice> GetChildVDevice(unsigned int dataId) override;
  std::vector<std::shared_ptr<ZelVDevice>> GetAllChildVDevices() override;
  bool RefreshStatus() override;
  int process_payload() override;

  std::vector<std::shared_ptr<ACUnit>> acUnits_;
  std::vector<std::shared_ptr<DCUnit>> dcUnits_;
  std::shared_ptr<RCUnit> rcUnit_;
  uint8_t acFlags_ = 0;
  uint8_t rcFlags_ = 0;
  uint8_t modelCheckPending_ = 1;
  std::string detectedModel_;
  std::vector<std::string> supportedModels_;
  // The missing rectifier unit has been reported.
  uint8_t missingRcLogged_ = 0;

  static constexpr unsigned char commandGroup_ = 0xFF;

 private:
  // When a step's request carries the one INFO byte commandGroup_.
  enum class Info : uint8_t { None, Always, Version21 };
  struct StepRequest {
    unsigned char cid1;  // also the command group its reply must carry
    unsigned char cid2;
    Info info;
    bool resent;  // RefreshStatus sends it again while the step waits
  };
  static constexpr StepRequest kRequests[] = {
      {0x40, 0x41, Info::Always, true},     // STEP_AC_ANALOG
      {0x40, 0x43, Info::Always, true},     // STEP_AC_SWITCH
      {0x40, 0x44, Info::Always, true},     // STEP_AC_ALARM
      {0x40, 0x46, Info::None, false},      // STEP_AC_PARAM
      {0x41, 0x41, Info::None, true},       // STEP_RC_ANALOG
      {0x41, 0x43, Info::None, true},       // STEP_RC_SWITCH
      {0x41, 0x44, Info::None, true},       // STEP_RC_ALARM
      {0x42, 0x41, Info::Version21, true},  // STEP_DC_ANALOG
      {0x42, 0x44, Info::Version21, true},  // STEP_DC_ALARM
      {0x42, 0x46, Info::None, false},      // STEP_DC_PARAM
      {0, 0, Info::None, false},            // 10, not used
      {0, 0, Info::None, false},            // 11, not used
      {0, 0, Info::None, false},            // 12, not used
      {0, 0, Info::None, false},            // 13, not used
      {0x40, 0x51, Info::None, false},      // STEP_MODEL, sent while the check is pending
  };
  static constexpr uint32_t kStepCount = sizeof(kRequests) / sizeof(kRequests[0]);

  // The decoded reply record: command group at byte 2, length field (twice the INFO bytes,
  // low byte first) at bytes 4 and 5, INFO from byte 6.
  static constexpr size_t kReplyGroup = 2;
  static constexpr size_t kReplyLength = 4;
  static constexpr size_t kReplyInfo = 6;
  static constexpr size_t kModelFieldSize = 20;
  static constexpr uint8_t kSwitchChanged = 0x10;
  static constexpr uint8_t kAlarmChanged = 0x01;

  template <class Unit>
  using Parse = int (Unit::*)(const unsigned char*, int);

  void Send(uint32_t step);
  int64_t SecondsSinceUpdate() const;
  bool ModelSupported() const;

  int OnModel(const unsigned char* info, size_t infoLen);
  int OnAcAnalog(const unsigned char* info, size_t infoLen);
  int OnAcSwitch(const unsigned char* info, size_t infoLen);
  int OnAcAlarm(const unsigned char* info, size_t infoLen);
  int OnRcAnalog(const unsigned char* info, size_t infoLen);
  int OnRcSwitch(const unsigned char* info, size_t infoLen);
  int OnRcAlarm(const unsigned char* info, size_t infoLen);
  int OnDcAnalog(const unsigned char* info, size_t infoLen);
  int OnDcAlarm(const unsigned char* info, size_t infoLen);
  int OnAcParam(const unsigned char* info, size_t infoLen);
  int OnDcParam(const unsigned char* info, size_t infoLen);

  // The rectifier's part must be the whole (non-empty) INFO; otherwise logs message and
  // returns false.
  bool RcTakesAll(Parse<RCUnit> parse, const unsigned char* info, size_t infoLen,
                  const char* message);
  // A parameter reply: -1 when the rectifier refused it, else its length after the overrun
  // check.
  int RcParam(Parse<RCUnit> parse, const unsigned char* info, size_t infoLen, const char* message);
  // The DC unit count a DC reply reports against the configuration; a mismatch is logged.
  bool DcCountMatches(uint8_t reported);
  // The DC analog request, or the end of the round when there is no DC unit.
  int DcStageOrEnd();
  int EndRound();

  // Hands consecutive parts of INFO, from offset start (at most infoLen), to the units in
  // order. Returns the bytes used, start included, or -1 once a unit refuses its part. A unit
  // that claims more than was left ends the cutting: the units after it get nothing.
  template <class Unit>
  static int64_t Cut(const std::vector<std::shared_ptr<Unit>>& units, Parse<Unit> parse,
                     const unsigned char* info, size_t infoLen, size_t start) {
    size_t used = start;
    for (const auto& unit : units) {
      const int remaining = static_cast<int>(infoLen - used);
      const int c = ((*unit).*parse)(info + used, remaining);
      if (c < 0) return -1;
      if (c > remaining) return static_cast<int64_t>(used) + c;
      used += static_cast<size_t>(c);
    }
    return static_cast<int64_t>(used);
  }
};

template <class ACUnit, class DCUnit, class RCUnit>
bool PMBusPower<ACUnit, DCUnit, RCUnit>::InitSetting(const Json::Value& settings) {
  if (!PMBusProtocol::InitSetting(settings)) return false;
  // Settings that are not an object hold no units (jsoncpp throws on member access otherwise).
  auto member = [&settings](const char* key) -> const Json::Value& {
    return settings.isObject() ? settings[key] : Json::Value::nullSingleton();
  };

  const Json::Value& ac = member("acSetting");
  if (ac.isArray()) {
    for (int i = 0; i < static_cast<int>(ac.size()); ++i) {
      const Json::Value& element = ac[i];
      auto unit = std::make_shared<ACUnit>();
      unit->InitV(this, element["data_id"].asUInt(), element);
      acUnits_.push_back(std::move(unit));
    }
  }
  const Json::Value& dc = member("dcSetting");
  if (dc.isArray()) {
    for (int i = 0; i < static_cast<int>(dc.size()); ++i) {
      const Json::Value& element = dc[i];
      auto unit = std::make_shared<DCUnit>(detectedModel_);
      unit->InitV(this, element["data_id"].asUInt(), element);
      dcUnits_.push_back(std::move(unit));
    }
  }
  const Json::Value& rc = member("rcSetting");
  if (rc != Json::Value()) {
    rcUnit_ = std::make_shared<RCUnit>();
    rcUnit_->InitV(this, DataId(), rc);
    return true;
  }
  return false;
}

template <class ACUnit, class DCUnit, class RCUnit>
std::shared_ptr<ZelVDevice> PMBusPower<ACUnit, DCUnit, RCUnit>::GetChildVDevice(
    unsigned int dataId) {
  // The rectifier unit carries the root's own id and is not searched.
  for (const auto& unit : acUnits_)
    if (unit->DataId() == dataId) return unit;
  for (const auto& unit : dcUnits_)
    if (unit->DataId() == dataId) return unit;
  return {};
}

template <class ACUnit, class DCUnit, class RCUnit>
std::vector<std::shared_ptr<ZelVDevice>> PMBusPower<ACUnit, DCUnit, RCUnit>::GetAllChildVDevices() {
  std::vector<std::shared_ptr<ZelVDevice>> all;
  all.reserve(acUnits_.size() + dcUnits_.size() + 1);
  all.insert(all.end(), acUnits_.begin(), acUnits_.end());
  all.insert(all.end(), dcUnits_.begin(), dcUnits_.end());
  all.push_back(rcUnit_);  // empty without "rcSetting"
  return all;
}

template <class ACUnit, class DCUnit, class RCUnit>
bool PMBusPower<ACUnit, DCUnit, RCUnit>::RefreshStatus() {
  if (!ZelSPDevice::RefreshStatus()) return false;
  // Every round ends at the rectifier unit: without one there is nothing to poll.
  if (!rcUnit_) {
    if (missingRcLogged_ == 0) {
      InfoLog("PMBusPower:ProcotolError {} no rectifier unit configured, not polling", DataId());
      missingRcLogged_ = 1;
    }
    return false;
  }
  if (modelCheckPending_ != 1 && SecondsSinceUpdate() <= 1) {
    spStatus_ = 0;
    return false;
  }
  if (modelCheckPending_ != 0) {
    Send(STEP_MODEL);
  } else if (step_ == STEP_AC_ANALOG) {
    Send(acUnits_.empty() ? STEP_RC_ANALOG : STEP_AC_ANALOG);
  } else if (step_ < kStepCount && kRequests[step_].resent) {
    Send(step_);
  }
  return true;
}

template <class ACUnit, class DCUnit, class RCUnit>
int PMBusPower<ACUnit, DCUnit, RCUnit>::process_payload() {
  // The next request never follows a reply more closely than this.
  rvt::Pause(20000);
  if (reply_ == nullptr || !rcUnit_) return 1;
  if (step_ >= kStepCount || kRequests[step_].cid1 == 0) return 1;

  const unsigned char* record = reinterpret_cast<const unsigned char*>(reply_);
  const size_t lengthField = record[kReplyLength] | record[kReplyLength + 1] << 8;
  const size_t infoLen = lengthField / 2;
  const unsigned char* info = record + kReplyInfo;

  if (record[kReplyGroup] != kRequests[step_].cid1) {
    if (step_ != STEP_AC_ANALOG) return 1;
    Reset();
    return 0;
  }
  switch (step_) {
    case STEP_MODEL:
      return OnModel(info, infoLen);
    case STEP_AC_ANALOG:
      return OnAcAnalog(info, infoLen);
    case STEP_AC_SWITCH:
      return OnAcSwitch(info, infoLen);
    case STEP_AC_ALARM:
      return OnAcAlarm(info, infoLen);
    case STEP_RC_ANALOG:
      return OnRcAnalog(info, infoLen);
    case STEP_RC_SWITCH:
      return OnRcSwitch(info, infoLen);
    case STEP_RC_ALARM:
      return OnRcAlarm(info, infoLen);
    case STEP_DC_ANALOG:
      return OnDcAnalog(info, infoLen);
    case STEP_DC_ALARM:
      return OnDcAlarm(info, infoLen);
    case STEP_AC_PARAM:
      return OnAcParam(info, infoLen);
    case STEP_DC_PARAM:
      return OnDcParam(info, infoLen);
    default:
      return 1;
  }
}

template <class ACUnit, class DCUnit, class RCUnit>
void PMBusPower<ACUnit, DCUnit, RCUnit>::Send(uint32_t step) {
  step_ = step;
  const StepRequest& r = kRequests[step];
  if (r.info == Info::Always || (r.info == Info::Version21 && protocolVersion_ == 0x21)) {
    write_pmbus_cmd(r.cid1, r.cid2, &commandGroup_, 1);
  } else {
    write_pmbus_cmd(r.cid1, r.cid2);
  }
}

template <class ACUnit, class DCUnit, class RCUnit>
int64_t PMBusPower<ACUnit, DCUnit, RCUnit>::SecondsSinceUpdate() const {
  // A last update that holds no time lets the request through.
  if (lastUpdate_.is_special()) return std::numeric_limits<int64_t>::max();
  return (rvt::LocalNow() - lastUpdate_).total_seconds();
}

template <class ACUnit, class DCUnit, class RCUnit>
bool PMBusPower<ACUnit, DCUnit, RCUnit>::ModelSupported() const {
  // The field is padded to 20 bytes with NULs or blanks; letter case does not matter.
  size_t len = detectedModel_.size();
  while (len > 0 && (detectedModel_[len - 1] == '\0' || detectedModel_[len - 1] == ' ')) --len;
  auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
  for (const std::string& model : supportedModels_) {
    if (model.size() != len) continue;
    size_t k = 0;
    while (k < len && lower(model[k]) == lower(detectedModel_[k])) ++k;
    if (k == len) return true;
  }
  return false;
}

template <class ACUnit, class DCUnit, class RCUnit>
int PMBusPower<ACUnit, DCUnit, RCUnit>::OnModel(const unsigned char* info, size_t infoLen) {
  // A short field is taken as it is, so that the check is done and the rounds begin.
  if (infoLen < kModelFieldSize) {
    InfoLog("PMBusPower:ProcotolError {} read 40_51 model field is {} bytes, not {}", DataId(),
            static_cast<unsigned>(infoLen), static_cast<unsigned>(kModelFieldSize));
  }
  detectedModel_.assign(reinterpret_cast<const char*>(info), std::min(infoLen, kModelFieldSize));
  if (!ModelSupported()) {
    CheckThresholdBool(3, "device_model", "70319", "设备配置检测",
                       "本驱动类型:" + DeviceType() + " 检测型号:" + detectedModel_, true, 0);
  }
  modelCheckPending_ = 0;
  Send(acUnits_.empty() ? STEP_RC_ANALOG : STEP_AC_ANALOG);
  return 1;
}

// INFO: change flags, AC unit count, then one part per AC unit.
template <class ACUnit, class DCUnit, class RCUnit>
int PMBusPower<ACUnit, DCUnit, RCUnit>::OnAcAnalog(const unsigned char* info, size_t infoLen) {
  if (infoLen < 2) {  // no unit count: a failed first reply, the flags untouched
    InfoLog("PMBusPower:ProcotolError {} parse 40_41 overflow memory boundary", DataId());
    Reset();
    return 0;
  }
  acFlags_ = info[0];
  if (info[1] != acUnits_.size()) {
    InfoLog("PMBusPower:ProcotolError {} read ac_number is {}, configured ac_number is {}",
            DataId(), static_cast<unsigned>(info[1]), static_cast<unsigned>(acUnits_.size()));
    Reset();
    return 0;
  }
  const int64_t used = Cut<ACUnit>(acUnits_, &ACUnit::parse40_41, info, infoLen, 2);
  if (used < 0) return 1;
  if (used != static_cast<int64_t>(infoLen)) {
    InfoLog("PMBusPower:ProcotolError {} parse 40_41 overflow memory boundary", DataId());
    return 1;
  }
  if (dataReady_ != 1 || (acFlags_ & kSwitchChanged)) {
    Send(STEP_AC_SWITCH);
  } else if (acFlags_ & kAlarmChanged) {
    Send(STEP_AC_ALARM);
  } else {
    Send(STEP_RC_ANALOG);
  }
  return 1;
}

// INFO: two bytes not looked at, then one part per AC unit (none when the reply ends there).
template <class ACUnit, class DCUnit, class RCUnit>
int PMBusPower<ACUnit, DCUnit, RCUnit>::OnAcSwitch(const unsigned char* info, size_t infoLen) {
  if (infoLen > 2) {
    const int64_t used = Cut<ACUnit>(acUnits_, &ACUnit::parse40_43, info, infoLen, 2);
    if (used < 0) return 1;
    if (used != static_cast<int64_t>(infoLen)) {
      InfoLog("PMBusPower:ProcotolError {} parse 40_43 overflow memory boundary", DataId());
      return 1;
    }
  }
  Send((dataReady_ != 1 || (acFlags_ & kAlarmChanged)) ? STEP_AC_ALARM : STEP_RC_ANALOG);
  return 1;
}

// INFO: two bytes not looked at, then one part per AC unit.
template <class ACUnit, class DCUnit, class RCUnit>
int PMBusPower<ACUnit, DCUnit, RCUnit>::OnAcAlarm(const unsigned char* info, size_t infoLen) {
  if (infoLen < 2) return 1;
  const int64_t used = Cut<ACUnit>(acUnits_, &ACUnit::parse40_44, info, infoLen, 2);
  if (used != static_cast<int64_t>(infoLen)) return 1;
  Send(STEP_RC_ANALOG);
  return 1;
}

// INFO: change flags, then the rectifier's part (which starts at the flags byte).
template <class ACUnit, class DCUnit, class RCUnit>
int PMBusPower<ACUnit, DCUnit, RCUnit>::OnRcAnalog(const unsigned char* info, size_t infoLen) {
  if (infoLen > 0) rcFlags_ = info[0];
  if (!RcTakesAll(&RCUnit::parse41_41, info, infoLen,
                  "PMBusPower:ProcotolError {} parse p41_41 overflow memory boundary"))
    return 1;
  if (dataReady_ != 1 || (rcFlags_ & kSwitchChanged)) {
    Send(STEP_RC_SWITCH);
  } else if (rcFlags_ & kAlarmChanged) {
    Send(STEP_RC_ALARM);
  } else {
    return DcStageOrEnd();
  }
  return 1;
}

template <class ACUnit, class DCUnit, class RCUnit>
int PMBusPower<ACUnit, DCUnit, RCUnit>::OnRcSwitch(const unsigned char* info, size_t infoLen) {
  if (!RcTakesAll(&RCUnit::parse41_43, info, infoLen,
                  "PMBusPower:ProcotolError {} parse p41_43 overflow memory boundary"))
    return 1;
  if (dataReady_ != 1 || (rcFlags_ & kAlarmChanged)) {
    Send(STEP_RC_ALARM);
    return 1;
  }
  return DcStageOrEnd();
}

template <class ACUnit, class DCUnit, class RCUnit>
int PMBusPower<ACUnit, DCUnit, RCUnit>::OnRcAlarm(const unsigned char* info, size_t infoLen) {
  if (!RcTakesAll(&RCUnit::parse41_44, info, infoLen,
                  "PMBusPower:ProcotolError {} parse p41_44 overflow memory boundary"))
    return 1;
  return DcStageOrEnd();
}

// INFO: change flags, DC unit count, then one part per DC unit. From four units on, the first
// part starts at the count byte itself.
template <class ACUnit, class DCUnit, class RCUnit>
int PMBusPower<ACUnit, DCUnit, RCUnit>::OnDcAnalog(const unsigned char* info, size_t infoLen) {
  if (infoLen < 2) {
    InfoLog("PMBusPower:ProcotolError {} parse 42_41 overflow memory boundary", DataId());
    return 1;
  }
  const uint8_t flags = info[0];
  if (!DcCountMatches(info[1])) return 1;
  const size_t start = info[1] < 4 ? 2 : 1;
  const int64_t used = Cut<DCUnit>(dcUnits_, &DCUnit::parse42_41, info, infoLen, start);
  if (used < 0) return 1;
  if (used > static_cast<int64_t>(infoLen))
    InfoLog("PMBusPower:ProcotolError {} parse 42_41 overflow memory boundary", DataId());
  if (dataReady_ != 1 || (flags & (kSwitchChanged | kAlarmChanged))) {
    Send(STEP_DC_ALARM);
  } else {
    Send(acUnits_.empty() ? STEP_DC_PARAM : STEP_AC_PARAM);
  }
  return 1;
}

// INFO: one byte not looked at, DC unit count, then one part per DC unit.
template <class ACUnit, class DCUnit, class RCUnit>
int PMBusPower<ACUnit, DCUnit, RCUnit>::OnDcAlarm(const unsigned char* info, size_t infoLen) {
  if (infoLen < 2) {
    InfoLog("PMBusPower:ProcotolError {} parse 42_44 overflow memory boundary", DataId());
    return 1;
  }
  if (!DcCountMatches(info[1])) return 1;
  const int64_t used = Cut<DCUnit>(dcUnits_, &DCUnit::parse42_44, info, infoLen, 2);
  if (used < 0) return 1;
  if (used > static_cast<int64_t>(infoLen))
    InfoLog("PMBusPower:ProcotolError {} parse 42_44 overflow memory boundary", DataId());
  Send(acUnits_.empty() ? STEP_DC_PARAM : STEP_AC_PARAM);
  return 1;
}

template <class ACUnit, class DCUnit, class RCUnit>
bool PMBusPower<ACUnit, DCUnit, RCUnit>::DcCountMatches(uint8_t reported) {
  if (reported == dcUnits_.size()) return true;
  InfoLog("PMBusPower:ProcotolError {} read dc_number is {}, configured dc_number is {}", DataId(),
          static_cast<unsigned>(reported), static_cast<unsigned>(dcUnits_.size()));
  return false;
}

template <class ACUnit, class DCUnit, class RCUnit>
int PMBusPower<ACUnit, DCUnit, RCUnit>::OnAcParam(const unsigned char* info, size_t infoLen) {
  if (RcParam(&RCUnit::parse40_46, info, infoLen,
              "PMBusPower:ProcotolError {} parse 40_46 overflow memory boundary") < 0)
    return 1;
  Send(STEP_DC_PARAM);
  return 1;
}

template <class ACUnit, class DCUnit, class RCUnit>
int PMBusPower<ACUnit, DCUnit, RCUnit>::OnDcParam(const unsigned char* info, size_t infoLen) {
  if (RcParam(&RCUnit::parse42_46, info, infoLen,
              "PMBusPower:ProcotolError {} parse 42_46 overflow memory boundary") < 0)
    return 1;
  return EndRound();
}

template <class ACUnit, class DCUnit, class RCUnit>
bool PMBusPower<ACUnit, DCUnit, RCUnit>::RcTakesAll(Parse<RCUnit> parse, const unsigned char* info,
                                                    size_t infoLen, const char* message) {
  // The part starts at the flags byte: an empty INFO holds none, and the unit is not called.
  const int c = infoLen == 0 ? -1 : ((*rcUnit_).*parse)(info, static_cast<int>(infoLen));
  if (c >= 0 && static_cast<size_t>(c) == infoLen) return true;
  InfoLog(message, DataId());
  return false;
}

template <class ACUnit, class DCUnit, class RCUnit>
int PMBusPower<ACUnit, DCUnit, RCUnit>::RcParam(Parse<RCUnit> parse, const unsigned char* info,
                                                size_t infoLen, const char* message) {
  const int c = ((*rcUnit_).*parse)(info, static_cast<int>(infoLen));
  if (c < 0) return -1;
  if (static_cast<size_t>(c) > infoLen) InfoLog(message, DataId());
  return c;
}

template <class ACUnit, class DCUnit, class RCUnit>
int PMBusPower<ACUnit, DCUnit, RCUnit>::DcStageOrEnd() {
  if (dcUnits_.empty()) return EndRound();
  Send(STEP_DC_ANALOG);
  return 1;
}

template <class ACUnit, class DCUnit, class RCUnit>
int PMBusPower<ACUnit, DCUnit, RCUnit>::EndRound() {
  for (const auto& unit : acUnits_) unit->RoundDone();
  for (const auto& unit : dcUnits_) unit->RoundDone();
  rcUnit_->RoundDone();
  step_ = STEP_AC_ANALOG;
  Reset();
  return 0;
}
