#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Site.h"

// A scenario: a site, the changes it goes through round by round, and the damage done to
// chosen replies.
namespace sim {

enum class FaultKind {
  Count,        // a count byte of the INFO set to another value
  Cut,          // the last bytes of the INFO left out (the frame itself stays sound)
  Cid1,         // the reply carries another command group
  Rtn,          // the reply carries a non-zero return code
  Adr,          // the reply carries another address
  BadChecksum,  // CHKSUM off by one
  Drop,         // bytes of the frame left out on the line
  Flip,         // a byte of the frame changed on the line
  Silence,      // no reply at all
  Chunks,       // the reply written in small pieces with pauses between them
  Hold,         // the reply held back before its first byte
};

const char* FaultKindName(FaultKind kind);

struct FaultSpec {
  FaultKind kind = FaultKind::Silence;
  std::optional<unsigned> round;  // every round when absent
  uint16_t command = 0;           // the step whose reply is damaged
  unsigned times = 1;             // replies damaged per round; 0 damages every one
  std::string field;              // Count: the count byte's name (see Info)
  int value = 0;                  // Count, Cid1, Rtn, Adr: the value; Cut, Drop: bytes
  std::optional<int> at;  // Drop, Flip: offset in the frame, negative from its end; else middle
  uint8_t mask = 0x01;    // Flip
  unsigned size = 3;      // Chunks: bytes per piece
  unsigned delayMs = 1;   // Chunks: pause between pieces; Hold: pause before the first byte
};

// Random damage on the line, for fault-injection runs: each reply that no fault above acts on
// loses one byte, with a chance of dropPercent, or has one bit changed, with a chance of
// flipPercent; never both, since two faults in one frame can cancel out in its checksum.
struct LineNoise {
  uint64_t seed = 1;
  double dropPercent = 0;
  double flipPercent = 0;
  bool Active() const { return dropPercent > 0 || flipPercent > 0; }
};

class Scenario {
 public:
  // Throw ScenarioError with the origin and the path at fault.
  static Scenario Load(const std::string& path);
  static Scenario Parse(const std::string& text, const std::string& origin);
  // The healthy site of examples/scenarios/default.json, built into the library.
  static Scenario Default();

  // The site as it stands in a round (round 0 is the model query before the first round).
  const Site& SiteAt(unsigned round) const;
  const std::vector<FaultSpec>& Faults() const { return faults_; }
  const std::string& Name() const { return name_; }
  const LineNoise& Noise() const { return noise_; }
  // The line speed the power system is set to ("baud"); 0 when the scenario names none and it
  // answers at any speed.
  unsigned Baud() const { return baud_; }
  // The round of the scenario that a round of the run plays: with a cycle of N rounds, round
  // N + 1 plays round 1 again, and so on; without one, the round itself.
  unsigned Phase(unsigned round) const;

 private:
  std::string name_;
  std::vector<std::pair<unsigned, Site>> sites_;  // from which round each site holds
  std::vector<FaultSpec> faults_;
  unsigned cycle_ = 0;
  LineNoise noise_;
  unsigned baud_ = 0;
};

}  // namespace sim
