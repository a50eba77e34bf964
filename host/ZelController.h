#pragma once

#include <fmt/format.h>

#include <functional>
#include <string>
#include <vector>

#include "ZelExport.h"
#include "ZelTypes.h"

// The host's controller: the log, the rule evaluation, the device history and the work queue.
// The stand-in's own, beyond the contract: everything but InfoLog, i.e. the log sink it formats
// into and the services behind the device bases.
class ZEL_HOST_API ZelController {
 public:
  virtual ~ZelController();

  // Formats "{}" placeholders with the values given; surplus values are ignored and a format
  // that cannot be filled is logged as it stands.
  template <typename... Args>
  void InfoLog(unsigned int device, const char* format, const Args&... args) {
    std::string line;
    try {
      line = fmt::vformat(format, fmt::make_format_args(args...));
    } catch (const std::exception&) {
      line = format;
    }
    Log(device, line);
  }

  virtual void Log(unsigned int device, const std::string& line) = 0;
  virtual void Publish(unsigned int device, int dataType, const unsigned char* image,
                       unsigned int len) = 0;
  virtual bool EvaluateRules(unsigned int device, const std::vector<rule_value>& rules) = 0;
  virtual void SaveHistory(unsigned int device, const unsigned char* image, unsigned int len) = 0;
  virtual void RunWork(std::function<void()> item) = 0;
  virtual void Request(unsigned int device, unsigned char cid1, unsigned char cid2,
                       const unsigned char* info, unsigned int len) = 0;
  virtual void DeviceReset(unsigned int device) = 0;
};
