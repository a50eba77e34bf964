#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "Site.h"

// The INFO of each reply of the command chain, written from the reply layouts.
namespace sim {

// Commands the power system answers, as CID1 << 8 | CID2.
enum Command : uint16_t {
  kModel = 0x4051,
  kAcAnalog = 0x4041,
  kAcSwitch = 0x4043,
  kAcAlarm = 0x4044,
  kAcParam = 0x4046,
  kRcAnalog = 0x4141,
  kRcSwitch = 0x4143,
  kRcAlarm = 0x4144,
  kDcAnalog = 0x4241,
  kDcAlarm = 0x4244,
  kDcParam = 0x4246,
};

inline uint16_t CommandOf(uint8_t cid1, uint8_t cid2) {
  return static_cast<uint16_t>(cid1 << 8 | cid2);
}
// "40_41" for (0x40, 0x41): the name scenario files use for a step.
std::string StepName(uint16_t command);

// Change flags in INFO[0] of the replies of each command group.
struct Flags {
  uint8_t ac = 0;
  uint8_t rc = 0;
  uint8_t dc = 0;
};
constexpr uint8_t kSwitchChanged = 0x10;
constexpr uint8_t kAlarmChanged = 0x01;

// A reply's INFO and the offsets of its count bytes by name: "units" (the unit count of the
// AC and DC replies), "ac/U/channels", "ac/U/channels/C/p", "ac/U/channels/C/m", "ac/U/m",
// "ac/U/p", "ac/U/lead", "rc/modules", "rc/modules/K/p", "ac_param/m", "dc_param/p",
// "dc/U/m", "dc/U/n", "dc/U/p", "dc/U/a", "dc/U/q" (U, C, K counting from 0).
struct Info {
  std::vector<uint8_t> bytes;
  std::map<std::string, size_t> counts;
  // Offsets of the bytes that go on the line as a pair of blanks (blank fill), in order.
  std::vector<size_t> blanks;
};

// False for a command the power system does not know.
bool EncodeInfo(const Site& site, uint16_t command, const Flags& flags, Info& out);

}  // namespace sim
