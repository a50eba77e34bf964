#pragma once

#include <json/value.h>

#include <cstddef>
#include <string>

#include "UnitFrame.h"

// The DC distribution unit over its record type: two reply parsers, the "v" and "i" lookups,
// the cached image and the round with its voltage and fuse alarms. The record is the image.
template <class TeleDC, int RT_DC>
class PMBusPowerDC : public UnitFrame {
 public:
  PMBusPowerDC() = default;
  explicit PMBusPowerDC(const std::string& text) : model_text(text) {}

  using VDeviceInterface::LoadFromCache;
  float Get_Value(unsigned int, const std::string& name) const override;  // slot 0
  bool LoadFromCache(const unsigned char* data, int len) override;        // slot 2
  void RoundDone() override;                                              // slot 6
  bool InitV(ZelVDevice* parent, unsigned int dataId,
             const Json::Value& settings) override;  // slot 11

  virtual int parse42_41(const unsigned char* data, int remaining);  // slot 31, analog values
  virtual int parse42_44(const unsigned char* data, int remaining);  // slot 32, alarm states
  virtual void DoImpCheckAlert() = 0;                                // slot 33, model's alarms

  TeleDC record{};
  float diff_v = 0.1f;
  float diff_i = 20.0f;
  std::string model_text;

  // Whether v or i moved by at least diff_v or diff_i since the last round (or the cached
  // image); a round before the unit held data counts as moved. Nothing else reads it.
  bool moved = false;
  float last_v = 0.0f;
  float last_i = 0.0f;

 private:
  template <size_t Cap>
  bool ReadOrSkip(BoundedReader& r, LeF32 (&slots)[Cap], uint8_t count, const char* format);
  void JudgeMovement();
  void BuildRules();
};
