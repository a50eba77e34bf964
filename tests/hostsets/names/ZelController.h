#pragma once

#include <fmt/format.h>

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "ZelTypes.h"

// The controller: InfoLog, and another host's interface behind it.
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
    WriteLog(2, device, line);
  }

  virtual void WriteLog(int severity, unsigned int device, const std::string& line) = 0;
  virtual void Post(std::function<void()> job) = 0;

  std::string siteName_;
  std::mutex logMutex_;
  std::map<unsigned int, std::string> deviceNames_;
  double logRate_ = 0;
};
