#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "Site.h"

// The record images that a master publishes for a site once every reply of a round has reached
// it, written by the host's layout table (the one the bench program decodes by): the truth a
// run's images are held to.
namespace sim {

// The data ids the master gives the units: one per AC and DC unit, and the rectifier's.
struct ImageIds {
  std::vector<uint32_t> ac;
  std::vector<uint32_t> dc;
  uint32_t rc = 0;
};

struct Images {
  std::vector<std::vector<uint8_t>> ac;  // data type 5106: 32-byte head, 30 bytes a channel
  std::vector<uint8_t> rc;               // data type 5107: 65-byte head, 32 bytes a module
  std::vector<std::vector<uint8_t>> dc;  // data type 5108: 166 bytes
};

// The 7-byte time stamp of the round: year (low byte first), month, day, hour, minute, second.
using Stamp = std::array<uint8_t, 7>;

// False when the images would depend on earlier rounds or on the master's checks rather than on
// this site alone: a list whose length is not the one the records hold, four or more DC units,
// or unit counts that differ from the ids.
bool TruthImages(const Site& site, const ImageIds& ids, const Stamp& stamp, Images& out);

}  // namespace sim
