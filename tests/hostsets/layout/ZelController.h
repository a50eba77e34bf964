#pragma once

#include <fmt/format.h>

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "ZelTypes.h"

// The controller: the stand-in's interface, with state of another host's around it.
class ZelController {
 public:
  virtual ~ZelController();

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

  std::string siteName_;
  std::mutex logMutex_;
  std::map<unsigned int, std::string> deviceNames_;
  double logRate_ = 0;
};
