// The host's device bases as the stand-in host implements them.
#include <boost/date_time/posix_time/posix_time.hpp>

#include "Clock.h"
#include "Line.h"
#include "Link.h"
#include "PMBusProtocol.h"
#include "Provider.h"

ZelController::~ZelController() = default;
ZelLink::~ZelLink() = default;
Provider::~Provider() = default;
ZelSPDeviceProvider::~ZelSPDeviceProvider() = default;

namespace {
// Images published on this thread; a reply whose handling publishes ends a round. Devices are
// driven one call at a time on their polling thread, so the count belongs to the reply at hand.
thread_local uint64_t publishedHere = 0;
}  // namespace

TTime get_ttime(boost::posix_time::ptime t) {
  TTime out{};
  if (t.is_special()) return out;
  const auto d = t.date();
  const auto tod = t.time_of_day();
  const unsigned year = d.year();
  out.bytes[0] = static_cast<unsigned char>(year & 0xFF);
  out.bytes[1] = static_cast<unsigned char>(year >> 8);
  out.bytes[2] = static_cast<unsigned char>(d.month().as_number());
  out.bytes[3] = static_cast<unsigned char>(d.day().as_number());
  out.bytes[4] = static_cast<unsigned char>(tod.hours());
  out.bytes[5] = static_cast<unsigned char>(tod.minutes());
  out.bytes[6] = static_cast<unsigned char>(tod.seconds());
  return out;
}

// ---- ZelVDevice ----

ZelVDevice::ZelVDevice() = default;
ZelVDevice::~ZelVDevice() = default;

void ZelVDevice::Reset() {}

bool ZelVDevice::InitV(ZelVDevice* parent, unsigned int dataId, const Json::Value&) {
  dataId_ = dataId;
  parent_ = parent;
  if (parent != nullptr) controller_ = parent->controller_;
  return true;
}

bool ZelVDevice::Init(std::weak_ptr<ZelController> controller, unsigned int dataId,
                      const Json::Value& settings) {
  controller_ = std::move(controller);
  dataId_ = dataId;
  return InitSetting(settings);
}

bool ZelVDevice::InitSetting(const Json::Value&) {
  return true;
}

bool ZelVDevice::IsSupportDevice(const std::string& type) const {
  return type == DeviceType();
}

std::shared_ptr<ZelVDevice> ZelVDevice::GetChildVDevice(unsigned int) {
  return {};
}

std::vector<std::shared_ptr<ZelVDevice>> ZelVDevice::GetAllChildVDevices() {
  return {};
}

void ZelVDevice::SendSP(int dataType, const unsigned char* image, unsigned int len, bool) {
  ++publishedHere;
  if (auto c = controller_.lock()) c->Publish(DataId(), dataType, image, len);
}

void ZelVDevice::SendDelayData(int) {}
void ZelVDevice::SendDoData(int, char) {}
int ZelVDevice::ReadDi(int) {
  return 0;
}
float ZelVDevice::ReadAi(int) {
  return 0.0f;
}
float ZelVDevice::Get_SP_Value(unsigned int id, const std::string& name) {
  return Get_Value(id, name);
}

void ZelVDevice::CheckThresholdBool(int level, const std::string& id, const std::string& code,
                                    const std::string& name, const std::string& text, bool active,
                                    uint16_t seq) {
  rule_value r;
  r.active = active ? 1 : 0;
  r.id = id;
  r.code = code;
  r.level = level;
  r.seq = seq;
  r.name = name;
  r.text = text;
  r.device = DataId();
  rules_.push_back(std::move(r));
}

void ZelVDevice::CheckThresholdWork(std::function<void()> item) {
  if (auto c = controller_.lock()) {
    c->RunWork(std::move(item));
  } else {
    item();
  }
}

bool ZelVDevice::DoBatchCheckThreshold(const std::vector<rule_value>& rules) {
  if (auto c = controller_.lock()) return c->EvaluateRules(DataId(), rules);
  for (const rule_value& r : rules)
    if (r.active) return true;
  return false;
}

void ZelVDevice::SaveDeviceHistory(const unsigned char* image, unsigned int len) {
  if (auto c = controller_.lock()) c->SaveHistory(DataId(), image, len);
}

// ---- ZelSPDevice ----

ZelSPDevice::ZelSPDevice() = default;
ZelSPDevice::~ZelSPDevice() = default;

void ZelSPDevice::Reset() {
  outstanding_ = 0;
}

bool ZelSPDevice::Init(std::weak_ptr<ZelController> controller, unsigned int dataId,
                       const Json::Value& settings) {
  return ZelVDevice::Init(std::move(controller), dataId, settings);
}

bool ZelSPDevice::RefreshStatus() {
  return portOpen_ != 0 && outstanding_ == 0;
}

int ZelSPDevice::process(unsigned char*, unsigned int len) {
  return static_cast<int>(len);
}
bool ZelSPDevice::IsProcessing() {
  return outstanding_ != 0;
}
bool ZelSPDevice::IsStalled() {
  return false;
}

int ZelSPDevice::SendData(const unsigned char* data, unsigned int len) {
  if (!link_ || !link_->IsOpen()) return -1;
  link_->Write(data, len);
  return static_cast<int>(len);
}

int ZelSPDevice::SendParityData(const unsigned char* data, unsigned int len, EnumParity) {
  return SendData(data, len);
}

bool ZelSPDevice::OpenPort() {
  portOpen_ = (!link_ || link_->IsOpen() || link_->Open()) ? 1 : 0;
  return portOpen_ != 0;
}

void ZelSPDevice::ClosePort() {
  if (link_) link_->Close();
  portOpen_ = 0;
}

void ZelSPDevice::AttachLink(std::shared_ptr<ZelLink> link) {
  link_ = std::move(link);
}

// ---- PMBusProtocol ----

PMBusProtocol::PMBusProtocol() : line_(std::make_shared<zel::LineState>()) {}
PMBusProtocol::~PMBusProtocol() = default;

bool PMBusProtocol::InitSetting(const Json::Value& settings) {
  if (!settings.isObject()) return true;
  const Json::Value& port = settings["port"];
  const Json::Value& baud = settings["baud"];
  const Json::Value& address = settings["address"];
  if ((!port.isNull() && !port.isString()) || (!baud.isNull() && !baud.isUInt()) ||
      (!address.isNull() && !(address.isUInt() && address.asUInt() <= 0xFF)))
    return false;
  if (port.isString()) port_ = port.asString();
  if (baud.isUInt()) baudRate_ = baud.asUInt();
  if (address.isUInt()) address_ = static_cast<uint8_t>(address.asUInt());
  if (settings["reply_timeout_ms"].isUInt())
    replyTimeoutMs_ = settings["reply_timeout_ms"].asUInt();
  if (settings["gap_ms"].isUInt()) gapMs_ = settings["gap_ms"].asUInt();
  if (settings["full_refresh_s"].isUInt()) fullRefreshS_ = settings["full_refresh_s"].asUInt();
  return true;
}

void PMBusProtocol::Reset() {
  ZelSPDevice::Reset();
  line_->receiver.Clear();
  if (auto c = controller_.lock()) c->DeviceReset(DataId());
}

int PMBusProtocol::process_payload() {
  return 1;
}

int PMBusProtocol::process_error() {
  Reset();
  // The parameter steps are never sent again by the device itself: start the round over.
  if (step_ == 3 || step_ == 9) step_ = 0;
  return 0;
}

void PMBusProtocol::write_pmbus_cmd(unsigned char cid1, unsigned char cid2) {
  write_pmbus_cmd(cid1, cid2, nullptr, 0);
}

int PMBusProtocol::HandleReply(ReplyRecord* reply) {
  outstanding_ = 0;
  reply_ = reply;
  const uint64_t before = requestsSent_;
  const uint64_t publishedBefore = publishedHere;
  const int result = process_payload();
  reply_ = nullptr;

  // Rules the device built for itself (the model check) are evaluated here.
  if (!rules_.empty()) {
    std::vector<rule_value> rules;
    rules.swap(rules_);
    DoBatchCheckThreshold(rules);
  }

  if (result == 0) {
    if (publishedHere != publishedBefore) ++line_->rounds;
    const auto now = zel::HostClock::Now();
    lastUpdate_ = now;
    if (lastFullRefresh_.is_not_a_date_time()) lastFullRefresh_ = now;
    if (dataReady_ == 1 && now - lastFullRefresh_ >= boost::posix_time::seconds(fullRefreshS_)) {
      dataReady_ = 0;  // the next round re-reads every state
      lastFullRefresh_ = now;
    } else if (dataReady_ != 1) {
      bool allReady = true;
      for (const auto& child : GetAllChildVDevices())
        if (child && child->dataReady_ != 1) allReady = false;
      if (allReady) dataReady_ = 1;
    }
  } else if (requestsSent_ == before && (step_ == 3 || step_ == 9)) {
    process_error();  // a parameter step that stalled restarts the round
  }
  return result;
}
