#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "TeleAC.h"
#include "UnitFrame.h"

// The AC distribution unit: a head record and one record per AC input channel, filled by the
// analog, switch-state and alarm-state replies, published as one image under data type RT_AC.
template <class TeleAC, class TeleACChannel, int RT_AC>
class PMBusPowerAC : public UnitFrame {
 public:
  PMBusPowerAC();

  using VDeviceInterface::LoadFromCache;
  float Get_Value(unsigned int dataId, const std::string& name) const override;
  bool LoadFromCache(const unsigned char* data, int len) override;
  void RoundDone() override;
  bool InitV(ZelVDevice* parent, unsigned int dataId, const Json::Value& settings) override;

  // Reply parts of this unit; each returns the bytes used, or -1.
  virtual int parse40_41(const unsigned char* data, int remaining);  // analog values
  virtual int parse40_43(const unsigned char* data, int remaining);  // switch states
  virtual int parse40_44(const unsigned char* data, int remaining);  // alarm states
  // The model's own alarms, after the standard rules of a round.
  virtual void DoImpCheckAlert() = 0;

  TeleAC record{};
  // One record per channel, channel 1 first; once set, as many as record.channel_count.
  std::vector<TeleACChannel> channels;
  // The published image: head then channels; made in the first round, refitted when the
  // channel count changes.
  std::unique_ptr<unsigned char[]> image;
  uint32_t image_size = 0;
  float diff_v = 20.0f;
  float diff_i = 20.0f;
  // Whether some channel voltage moved by diff_v or more against the previous image (true for
  // a round before the data was ready, or when the channel count changed). Informational only:
  // every round publishes and saves.
  bool moved = false;

 private:
  // The channel rules' texts, panel text first, per channel and rule.
  InstanceTexts panelTexts_;

  bool ReadAnalogChannel(BoundedReader& r, TeleACChannel& ch);
  bool ReadAlarmChannel(BoundedReader& r, TeleACChannel& ch);
  bool VoltagesMoved() const;
  void BuildRules();
};
