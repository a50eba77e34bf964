#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ZelSPDevice.h"

namespace zel {
struct LineState;
}

// The request/reply protocol base: frames requests, decodes replies into reply_. The stand-in's
// own, beyond the contract: HandleReply and every member from address_ on.
class ZEL_HOST_API PMBusProtocol : public ZelSPDevice {
 public:
  PMBusProtocol();
  ~PMBusProtocol() override;

  bool InitSetting(const Json::Value& settings) override;
  void Reset() override;
  int process(unsigned char* data, unsigned int len) override;  // 24
  virtual int process_payload();                                // 31
  virtual int process_error();                                  // 32

  void write_pmbus_cmd(unsigned char cid1, unsigned char cid2);
  void write_pmbus_cmd(unsigned char cid1, unsigned char cid2, const unsigned char* info,
                       unsigned int len);

  // Hands a decoded reply to the device and applies the host's end-of-round policy.
  int HandleReply(ReplyRecord* reply);

  ReplyRecord* reply_ = nullptr;
  uint32_t step_ = 0;
  uint8_t protocolVersion_ = 0x20;
  uint8_t address_ = 1;
  std::string port_;
  uint32_t replyTimeoutMs_ = 1000;
  uint32_t gapMs_ = 200;
  uint32_t fullRefreshS_ = 600;
  unsigned char lastCid1_ = 0;
  unsigned char lastCid2_ = 0;
  uint64_t requestsSent_ = 0;
  boost::posix_time::ptime lastFullRefresh_;
  ReplyRecord rxReply_{};
  // The stand-in host's receiver, fault counters and link state of this line.
  std::shared_ptr<zel::LineState> line_;
};
