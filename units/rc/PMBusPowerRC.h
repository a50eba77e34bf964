#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "RcRecords.h"
#include "UnitFrame.h"

// The rectifier group: the group head and one channel record per module, filled by the
// analog, switch and alarm replies of the rectifiers and by the AC and DC parameter replies.
// Publishes head and channels as one image of type RT_RC and raises one fault alarm per module.
template <class TeleRC, class TeleRCChannel, int RT_RC>
class PMBusPowerRC : public UnitFrame {
 public:
  using VDeviceInterface::LoadFromCache;

  PMBusPowerRC() = default;

  // Answers no names: only the preamble's verdict, or "数据未就绪".
  float Get_Value(unsigned int, const std::string& name) const override;
  bool LoadFromCache(const unsigned char* data, int len) override;
  void RoundDone() override;
  bool InitV(ZelVDevice* parent, unsigned int dataId, const Json::Value& settings) override;

  virtual int parse41_41(const unsigned char* data, int remaining);  // 31
  virtual int parse41_43(const unsigned char* data, int remaining);  // 32
  virtual int parse41_44(const unsigned char* data, int remaining);  // 33
  virtual int parse40_46(const unsigned char* data, int remaining);  // 34
  virtual int parse42_46(const unsigned char* data, int remaining);  // 35
  virtual void DoImpCheckAlert() = 0;                                // 36

  TeleRC record{};
  // One entry per module once the module count is known; its length is module_count.
  std::vector<TeleRCChannel> channels;
  std::unique_ptr<unsigned char[]> image;
  uint32_t image_size = 0;

 private:
  void BuildRules();
  bool UserBlock(BoundedReader& r, uint8_t count, int expected, unsigned char* block,
                 const char* countFormat) const;

  // The module rules' texts, per module and rule.
  InstanceTexts moduleTexts_;
};

extern template class PMBusPowerRC<tele_c_rvt2600_rc, tele_c_rvt2600_rc_channel, 5107>;
