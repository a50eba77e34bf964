#include "UnitFrame.h"

#include <cstdlib>
#include <stdexcept>
#include <utility>

void UnitFrame::CheckFresh() const {
  if (dataReady_ != 1) throw std::out_of_range("数据未就绪");
  const int64_t age = (rvt::LocalNow() - lastUpdate_).total_seconds();
  if (age > 60) throw std::out_of_range("数据已超时");
}

void UnitFrame::ReadThresholds(const Json::Value& settings, float& diffV, float& diffI) {
  if (!settings.isObject()) return;
  const Json::Value& app = settings["appSetting"];
  if (app.isNull() || !app.isObject()) return;
  if (!app["diff_v"].isNull())
    diffV = static_cast<float>(std::atof(app["diff_v"].asString().c_str()));
  if (!app["diff_i"].isNull())
    diffI = static_cast<float>(std::atof(app["diff_i"].asString().c_str()));
}

void UnitFrame::MarkLoaded() {
  dataReady_ = 1;
  lastUpdate_ = rvt::LocalNow();
}

void UnitFrame::StampRound(rvt::TimeStamp& stamp) {
  lastUpdate_ = rvt::LocalNow();
  stamp = get_ttime(rvt::LocalNow());
}

void UnitFrame::AddRule(int level, const std::string& id, const std::string& code,
                        const std::string& name, const std::string& text, bool active) {
  CheckThresholdBool(level, id, code, name, text, active, ruleSeq_);
  ++ruleSeq_;
}

int UnitFrame::Finish(const BoundedReader& r, const char* overflowFormat) const {
  if (r.ok() && r.needed() <= r.remaining()) return r.needed();
  InfoLog(overflowFormat, DataId(), r.needed(), r.remaining());
  return -1;
}

void UnitFrame::FitImage(std::unique_ptr<unsigned char[]>& image, uint32_t& size, uint32_t len) {
  if (image && size == len) return;
  image.reset(new unsigned char[len == 0 ? 1 : len]());
  size = len;
}

void UnitFrame::HandOff(const unsigned char* image, uint32_t len) {
  const size_t count = rules_.size();
  std::shared_ptr<ZelVDevice> self = shared_from_this();
  ZelVDevice* device = this;
  // The item saves its own copy: a worker thread must not read an image the next round rewrites.
  std::vector<unsigned char> saved(image, image + len);
  CheckThresholdWork([self, device, rules = std::move(rules_), saved = std::move(saved)]() {
    if (self->DoBatchCheckThreshold(rules)) device->alarmFlag_ = 1;
    self->SaveDeviceHistory(saved.data(), static_cast<unsigned int>(saved.size()));
  });
  rules_.clear();
  rules_.reserve(count);
}

InstanceTexts::InstanceTexts() = default;
InstanceTexts::~InstanceTexts() = default;

void InstanceTexts::Fit(size_t count, size_t rows, std::string (*make)(size_t k, size_t row)) {
  if (made_ && count == count_ && rows == rows_) return;
  texts_.clear();
  texts_.reserve(count * rows);
  for (size_t k = 0; k < count; ++k)
    for (size_t row = 0; row < rows; ++row) texts_.push_back(make(k, row));
  count_ = count;
  rows_ = rows;
  made_ = true;
}
