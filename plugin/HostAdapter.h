#pragma once

// The plugin's one view of the host framework: every file of the plugin reaches the host
// through this header. The declarations come from the folder the build names in
// RVT_HOST_INCLUDE_DIR (the stand-in host's host/ unless told otherwise), under the file names
// below; a framework that names its files otherwise is adapted here. Of them the plugin uses
// only what the host contract names: the device and protocol classes with their virtual slots
// and named members, ZelVDevice::InfoLog, CheckThresholdBool, CheckThresholdWork,
// DoBatchCheckThreshold, SaveDeviceHistory, write_pmbus_cmd, rule_value (copied and moved
// only), get_ttime, EnumParity, the decoded reply record (by its bytes only) and the
// providers' bases. Declarations with or without visibility attributes both do: the plugin
// still exports get_providers alone.

#include <unistd.h>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <type_traits>
#include <utility>

#include "PMBusProtocol.h"
#include "Provider.h"
#include "VDeviceInterface.h"
#include "ZelController.h"
#include "ZelSPDevice.h"
#include "ZelTypes.h"
#include "ZelVDevice.h"

// The device type member of VDeviceInterface: the one member the plugin writes whose name the
// contract leaves open. A framework that calls it otherwise: put its name here; SetDeviceType
// and the layout table's "device type" row follow.
#define RVT_HOST_DEVICE_TYPE deviceType_

// Clock and pause seams. A host may define these C symbols to give the plugin its local time
// (whole seconds since 1970-01-01 00:00:00) and its pause between replies; the stand-in host
// does, so that tests and the replay mode run on a virtual clock. A host that does not leaves
// them null: the plugin reads the wall clock and sleeps. Default visibility, so that the
// plugin's references bind to the loading program's definitions.
extern "C" {
long long zel_local_time(void) __attribute__((weak, visibility("default")));
void zel_pause(unsigned int microseconds) __attribute__((weak, visibility("default")));
}

namespace rvt {

// The host's 7-byte time stamp, as get_ttime returns it for a local time. The records copy it
// byte for byte; its name is the host's business.
using TimeStamp = decltype(get_ttime(std::declval<boost::posix_time::ptime>()));
static_assert(sizeof(TimeStamp) == 7 && alignof(TimeStamp) == 1,
              "get_ttime's result is 7 packed bytes");
static_assert(std::is_trivially_copyable<TimeStamp>::value &&
                  std::is_standard_layout<TimeStamp>::value,
              "get_ttime's result is plain bytes");

inline void SetDeviceType(VDeviceInterface& device, const char* type) {
  device.RVT_HOST_DEVICE_TYPE = type;
}

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

}  // namespace rvt
