#pragma once

// The reference site for the benchmarks: the plugin's root device with its AC, DC and
// rectifier units, fed decoded reply records that the simulator's encoder writes for the
// reference site. The controller keeps nothing, so that what is measured is the plugin's
// work, with only the stand-in host's framing of each request around it.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "RVT2600.h"
#include "ZelController.h"

namespace bench {

// A controller that keeps nothing and runs each work item at once.
class NullController : public ZelController {
 public:
  void Log(unsigned int, const std::string&) override {}
  void Publish(unsigned int, int, const unsigned char*, unsigned int) override {}
  bool EvaluateRules(unsigned int, const std::vector<rule_value>&) override { return false; }
  void SaveHistory(unsigned int, const unsigned char*, unsigned int) override {}
  void RunWork(std::function<void()> item) override { item(); }
  void Request(unsigned int, unsigned char, unsigned char, const unsigned char*,
               unsigned int) override {}
  void DeviceReset(unsigned int) override {}
};

// The replies of the command chain, by command (CID1 << 8 | CID2), in chain order.
struct ReplyKind {
  uint16_t command;
  const char* name;  // "40_41"
  uint32_t step;     // the root's step whose request it answers
};
extern const ReplyKind kReplyKinds[11];

// What one round puts on the line.
struct LineBytes {
  unsigned requests = 0;
  size_t requestBytes = 0;  // SOI to EOI, every request frame
  size_t replyBytes = 0;    // SOI to EOI, every reply frame
};

class ReferenceSite {
 public:
  static constexpr unsigned kRootId = 100;
  static constexpr unsigned kAcId = 101;
  static constexpr unsigned kDcId = 102;

  // Configured, past the model query and two rounds: every unit ready, its image made.
  ReferenceSite();
  ~ReferenceSite();

  // One round from its first request to the reply that ends it, as the host drives it
  // (RefreshStatus, then each reply through the host's reply path). statesChanged: the analog
  // replies carry the change flags, so that every switch and alarm state is read too. The
  // number of replies, or -1 when the round does not end.
  int Round(bool statesChanged, LineBytes* line = nullptr);

  // One reply of the given kind handed to process_payload as if its request were outstanding;
  // the result of process_payload. Its next request is framed by the stand-in host; the
  // round-ending reply completes the round.
  int Handle(const ReplyKind& kind);
  // The stand-in host's own share of Handle: the next request framed, or the reset that ends a
  // round, called alone after a Handle.
  void HostShareOfLastHandle();

  // The record of a reply as the host decodes it: VER ADR CID1 RTN LENGTH INFO, exactly that
  // size.
  std::vector<unsigned char>& Record(uint16_t command, bool statesChanged);

  RVT2600& root() { return *root_; }
  ZelVDevice& Unit(unsigned dataId) { return *root_->GetChildVDevice(dataId); }

 private:
  std::shared_ptr<NullController> controller_;
  std::shared_ptr<RVT2600> root_;
  std::map<std::pair<uint16_t, bool>, std::vector<unsigned char>> records_;
  bool lastEnded_ = false;
};

}  // namespace bench
