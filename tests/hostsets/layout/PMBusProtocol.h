#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ZelSPDevice.h"

namespace zel {
struct LineState;
}

// The protocol base: the contract's members with others around them, the stand-in's own in
// another order.
class PMBusProtocol : public ZelSPDevice {
 public:
  PMBusProtocol();
  ~PMBusProtocol() override;

  bool InitSetting(const Json::Value& settings) override;
  void Reset() override;
  int process(unsigned char* data, unsigned int len) override;
  virtual int process_payload();
  virtual int process_error();

  void write_pmbus_cmd(unsigned char cid1, unsigned char cid2);
  void write_pmbus_cmd(unsigned char cid1, unsigned char cid2, const unsigned char* info,
                       unsigned int len);

  int HandleReply(ReplyRecord* reply);

  std::shared_ptr<zel::LineState> line_;
  std::string protocolName_;
  uint64_t requestsSent_ = 0;
  ReplyRecord* reply_ = nullptr;
  uint32_t gapMs_ = 200;
  std::mutex replyMutex_;
  unsigned char lastCid2_ = 0;
  uint32_t step_ = 0;
  std::map<unsigned char, unsigned> retries_;
  std::string port_;
  uint8_t protocolVersion_ = 0x20;
  double frameTime_ = 0;
  unsigned char lastCid1_ = 0;
  uint32_t fullRefreshS_ = 600;
  boost::posix_time::ptime lastFullRefresh_;
  uint8_t address_ = 1;
  ReplyRecord rxReply_{};
  uint32_t replyTimeoutMs_ = 1000;
};
