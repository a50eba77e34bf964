#pragma once

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <cstdint>

namespace zel {

// The clock behind the plugin's time and pause hooks: the wall clock, or a virtual clock that
// tests and the replay mode move by hand.
class HostClock {
 public:
  static void UseWallClock();
  static void UseVirtual(boost::posix_time::ptime start);
  static void Set(boost::posix_time::ptime now);
  static void Advance(long seconds);
  static bool IsVirtual();
  static boost::posix_time::ptime Now();
  // The pause behind the hook: counted, and slept on the wall clock only.
  static void Pause(unsigned int microseconds);
  // Pauses requested through the hook, and their total, since the last reset.
  static uint64_t PauseCount();
  static uint64_t PausedMicroseconds();
  static unsigned int LastPause();
  static void ResetPauses();
};

}  // namespace zel
