#include "Clock.h"

#include <unistd.h>

#include <atomic>
#include <mutex>

namespace zel {
namespace {

std::mutex clockMutex;
bool virtualMode = false;
boost::posix_time::ptime virtualNow;
std::atomic<uint64_t> pauseCount{0};
std::atomic<uint64_t> pausedUs{0};
std::atomic<unsigned int> lastPause{0};

const boost::posix_time::ptime kEpoch(boost::gregorian::date(1970, 1, 1));

}  // namespace

void HostClock::UseWallClock() {
  std::lock_guard<std::mutex> lock(clockMutex);
  virtualMode = false;
}

void HostClock::UseVirtual(boost::posix_time::ptime start) {
  std::lock_guard<std::mutex> lock(clockMutex);
  virtualMode = true;
  virtualNow = start;
}

void HostClock::Set(boost::posix_time::ptime now) {
  std::lock_guard<std::mutex> lock(clockMutex);
  virtualNow = now;
}

void HostClock::Advance(long seconds) {
  std::lock_guard<std::mutex> lock(clockMutex);
  virtualNow += boost::posix_time::seconds(seconds);
}

bool HostClock::IsVirtual() {
  std::lock_guard<std::mutex> lock(clockMutex);
  return virtualMode;
}

boost::posix_time::ptime HostClock::Now() {
  std::lock_guard<std::mutex> lock(clockMutex);
  return virtualMode ? virtualNow : boost::posix_time::second_clock::local_time();
}

uint64_t HostClock::PauseCount() {
  return pauseCount;
}
uint64_t HostClock::PausedMicroseconds() {
  return pausedUs;
}
unsigned int HostClock::LastPause() {
  return lastPause;
}
void HostClock::Pause(unsigned int microseconds) {
  ++pauseCount;
  pausedUs += microseconds;
  lastPause = microseconds;
  if (!IsVirtual()) usleep(microseconds);
}
void HostClock::ResetPauses() {
  pauseCount = 0;
  pausedUs = 0;
  lastPause = 0;
}

}  // namespace zel

extern "C" long long zel_local_time(void) {
  return (zel::HostClock::Now() - zel::kEpoch).total_seconds();
}

extern "C" void zel_pause(unsigned int microseconds) {
  zel::HostClock::Pause(microseconds);
}
