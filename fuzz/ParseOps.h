#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace rvt_fuzz {

// One unit parse operation, run on a fresh unit over an exact heap copy of a part, so that a
// read past the part is a read past the allocation.
struct ParseOp {
  const char* name;  // "parse40_41": the fuzz target and its corpus folder
  // How a part cut short may be answered besides -1: with more bytes than it holds (the
  // rectifier's parameter replies count the user-defined values they skip unread, and the root
  // logs the overrun), or with all it holds (the user-defined DC parameters are taken as far as
  // the reply holds them).
  bool claimsPastCut;
  bool takesWhatIsThere;
  // The operation's result. Before it, the unit holds what the part implies (the channel or
  // module count a reply of that kind follows); the first broken rule goes to `broken`.
  std::function<int(const uint8_t* data, size_t size, std::string& broken)> run;
};

const std::vector<ParseOp>& ParseOps();
// nullptr for an unknown name.
const ParseOp* FindParseOp(const std::string& name);

}  // namespace rvt_fuzz
