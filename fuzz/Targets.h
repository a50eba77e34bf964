#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace rvt_fuzz {

// A fuzz target: runs one input; when the code under test breaks one of its rules, prints the
// rule and aborts, so that libFuzzer and the corpus replay both report it.
using Target = std::function<int(const uint8_t* data, size_t size)>;

// "parse40_41" ... "parse42_44" (one per unit parse operation), "frame" (the frame decoder),
// "cycle" (the root device with its units); empty for an unknown name.
Target FindTarget(const std::string& name);
std::vector<std::string> TargetNames();

// The frame decoder on an input: the stream receiver byte by byte, then the whole input as the
// characters between SOI and EOI. Every frame it accepts encodes back to the characters it came
// from. Returns the first broken rule, "" if none.
std::string RunFrame(const uint8_t* data, size_t size);

}  // namespace rvt_fuzz
