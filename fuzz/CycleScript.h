#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Cycle.h"

namespace rvt_fuzz {

// The input of the cycle target, read with FuzzedDataProvider: the site's shape, then host
// calls (a request after some seconds, a missing reply, or a reply) until the input ends.
// Runs it: the first rule the cycle broke ("" if none), and what the host saw.
struct ScriptRun {
  std::string broken;
  uint64_t requests = 0;
  uint64_t rounds = 0;
};
ScriptRun RunCycleScript(const uint8_t* data, size_t size);

// Writes an input that RunCycleScript reads back as the calls made here, for the seed corpus.
// FuzzedDataProvider takes bytes from the front and numbers from the back; the writer keeps
// the two ends apart and joins them at the end.
class CycleScriptWriter {
 public:
  explicit CycleScriptWriter(const SiteShape& shape);
  void Refresh(unsigned seconds);
  void Timeout();
  // A reply with the command group of the step at hand.
  void Reply(const std::vector<uint8_t>& info);
  // A reply with this command group.
  void Reply(uint8_t cid1, const std::vector<uint8_t>& info);
  std::vector<uint8_t> Bytes() const;

 private:
  void Number(uint64_t value, uint64_t min, uint64_t max);
  void Body(const std::vector<uint8_t>& info);

  std::vector<uint8_t> front_;
  std::vector<uint8_t> back_;  // in the order the numbers are taken
};

}  // namespace rvt_fuzz
