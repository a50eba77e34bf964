#include "Targets.h"

#include <cstdio>
#include <cstdlib>

#include "CycleScript.h"
#include "Frame.h"
#include "ParseOps.h"

namespace rvt_fuzz {
namespace {

int Report(const std::string& target, const std::string& broken) {
  if (broken.empty()) return 0;
  std::fprintf(stderr, "%s: %s\n", target.c_str(), broken.c_str());
  std::abort();
}

}  // namespace

std::string RunFrame(const uint8_t* data, size_t size) {
  // The encoder writes the characters the frame came from; where the sender wrote a pair of
  // blanks (blank fill) it writes 20, and so a CHKSUM of its own.
  const auto same = [](const framing::Frame& frame, std::string body) {
    const std::string encoded = framing::Encode(frame);
    if (body.find(' ') == std::string::npos) return encoded == framing::kSoi + body + framing::kEoi;
    for (size_t k = 12; k + 1 < body.size(); k += 2)
      if (body[k] == ' ' && body[k + 1] == ' ') body.replace(k, 2, "20");
    body.resize(body.size() - 4);
    return encoded.compare(0, 1 + body.size(), framing::kSoi + body) == 0 &&
           encoded.size() == body.size() + 6;
  };
  std::string broken;
  framing::Receiver receiver;
  for (size_t k = 0; k < size && broken.empty(); ++k) {
    switch (receiver.Feed(data[k])) {
      case framing::Receiver::Status::Frame:
        if (!same(receiver.frame(), receiver.body())) broken = "a received frame encodes otherwise";
        break;
      case framing::Receiver::Status::Fault:
        if (receiver.fault() == framing::Fault::None) broken = "a fault without its kind";
        break;
      case framing::Receiver::Status::Incomplete:
        break;
    }
  }
  const std::string body(reinterpret_cast<const char*>(data), size);
  framing::Frame frame;
  if (broken.empty() && framing::DecodeBody(body, frame) == framing::Fault::None &&
      !same(frame, body))
    broken = "a decoded body encodes otherwise";
  return broken;
}

Target FindTarget(const std::string& name) {
  if (name == "frame")
    return [](const uint8_t* d, size_t n) { return Report("frame", RunFrame(d, n)); };
  if (name == "cycle")
    return [](const uint8_t* d, size_t n) { return Report("cycle", RunCycleScript(d, n).broken); };
  if (const ParseOp* op = FindParseOp(name)) {
    return [op](const uint8_t* d, size_t n) {
      std::string broken;
      op->run(d, n, broken);
      return Report(op->name, broken);
    };
  }
  return {};
}

std::vector<std::string> TargetNames() {
  std::vector<std::string> names;
  for (const ParseOp& op : ParseOps()) names.push_back(op.name);
  names.push_back("frame");
  names.push_back("cycle");
  return names;
}

}  // namespace rvt_fuzz
