#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ZelSPDevice.h"

// The protocol base: the contract's members among another host's.
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

  std::shared_ptr<void> m_line;
  std::string protocolName_;
  uint64_t m_sent = 0;
  ReplyRecord* reply_ = nullptr;
  uint32_t m_gapMs = 200;
  std::mutex replyMutex_;
  unsigned char m_cid2 = 0;
  uint32_t step_ = 0;
  std::map<unsigned char, unsigned> retries_;
  std::string m_device;
  uint8_t protocolVersion_ = 0x20;
  double frameTime_ = 0;
  unsigned char m_cid1 = 0;
  uint32_t m_refreshS = 600;
  boost::posix_time::ptime m_refreshed;
  uint8_t m_address = 1;
  ReplyRecord m_rx{};
  uint32_t m_timeoutMs = 1000;
};
