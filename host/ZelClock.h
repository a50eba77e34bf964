#pragma once

#include <unistd.h>

#include <boost/date_time/posix_time/posix_time_types.hpp>

#include "ZelExport.h"

// Optional host hooks for the local clock and the pause between replies. A host that defines
// them (a bench host on a virtual clock) is used; otherwise the plugin reads the wall clock
// and sleeps.
extern "C" {
// Local time as whole seconds since 1970-01-01 00:00:00.
ZEL_HOST_API long long zel_local_time(void) __attribute__((weak));
ZEL_HOST_API void zel_pause(unsigned int microseconds) __attribute__((weak));
}

namespace zel {

inline boost::posix_time::ptime LocalNow() {
  if (zel_local_time != nullptr) {
    // Split into days and seconds: a 32-bit long cannot hold the seconds of a whole epoch.
    const long long t = zel_local_time();
    const long long day = t >= 0 ? t / 86400 : -((-t + 86399) / 86400);
    return boost::posix_time::ptime(boost::gregorian::date(1970, 1, 1) +
                                    boost::gregorian::days(static_cast<long>(day))) +
           boost::posix_time::seconds(static_cast<long>(t - day * 86400));
  }
  return boost::posix_time::second_clock::local_time();
}

inline void Pause(unsigned int microseconds) {
  if (zel_pause != nullptr) {
    zel_pause(microseconds);
  } else {
    usleep(microseconds);
  }
}

}  // namespace zel
