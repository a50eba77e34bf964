#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "Bench.h"
#include "Clock.h"
#include "PMBusProtocol.h"

namespace rvt_test {

// A protocol device with nothing of its own, to stand as a parent or a plain device.
struct PlainDevice : PMBusProtocol {
  bool LoadFromCache(const unsigned char*, int) override { return true; }
};

// Runs fn and returns the text of the std::out_of_range it throws ("" if none).
inline std::string OutOfRangeText(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const std::out_of_range& e) {
    return e.what();
  }
  return "";
}

// Every test runs on a virtual clock that starts at a fixed local time.
class VirtualClockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    zel::HostClock::UseVirtual(kStart);
    zel::HostClock::ResetPauses();
  }
  void TearDown() override { zel::HostClock::UseWallClock(); }

  static void Advance(long seconds) { zel::HostClock::Advance(seconds); }

  std::vector<std::string> Logs() const {
    std::vector<std::string> out;
    for (const auto& e : bench.controller->Journal(zel::Event::Kind::Log)) out.push_back(e.text);
    return out;
  }

  static inline const boost::posix_time::ptime kStart{boost::gregorian::date(2026, 1, 1),
                                                      boost::posix_time::hours(8)};
  zel::Bench bench;
};

}  // namespace rvt_test
