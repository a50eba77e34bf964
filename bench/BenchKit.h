#pragma once

// The reference site for the benchmarks and the round-cost test: the plugin's root device with
// its AC, DC and rectifier units, fed decoded reply records that the simulator's encoder writes
// for the reference site. The controller keeps nothing, so that what is measured is the
// plugin's work with only the stand-in host's calls around it; those can be written down and
// run alone, so that the plugin's share is the whole less the host's.
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

// One call that the plugin's work made on the stand-in host, as the controller saw it.
struct HostCall {
  enum class Kind { Request, Publish, Work, Rules, Save, Reset };
  Kind kind = Kind::Request;
  unsigned device = 0;               // data id
  int dataType = 0;                  // Publish
  unsigned char cid1 = 0, cid2 = 0;  // Request
  std::vector<unsigned char> bytes;  // Request: the INFO; Publish, Save: the image
  std::vector<rule_value> rules;     // Rules: the rules evaluated
};

// What the stand-in host was asked for during a piece of the plugin's work, in order, so that
// the host's share of that piece can be run alone (ReferenceSite::RunHostShare).
struct HostTape {
  std::vector<HostCall> calls;
  uint64_t pauses = 0;  // the 20 ms pauses, through the host's pause hook
  unsigned pauseUs = 0;
};

// A controller that keeps nothing and runs each work item at once; while a tape is given, it
// writes down every call on it.
class NullController : public ZelController {
 public:
  void Log(unsigned int, const std::string&) override {}
  void Publish(unsigned int device, int dataType, const unsigned char* image,
               unsigned int len) override;
  bool EvaluateRules(unsigned int device, const std::vector<rule_value>& rules) override;
  void SaveHistory(unsigned int device, const unsigned char* image, unsigned int len) override;
  void RunWork(std::function<void()> item) override;
  void Request(unsigned int device, unsigned char cid1, unsigned char cid2,
               const unsigned char* info, unsigned int len) override;
  void DeviceReset(unsigned int device) override;

  HostTape* tape = nullptr;

 private:
  // A new call on the tape, or nullptr without one.
  HostCall* Note(HostCall::Kind kind, unsigned device);
};

// The replies of the command chain, by command (CID1 << 8 | CID2), in chain order.
struct ReplyKind {
  uint16_t command;
  const char* name;  // "40_41"
  uint32_t step;     // the root's step whose request it answers
};
extern const ReplyKind kReplyKinds[11];
// The kind of the given name ("40_41").
const ReplyKind& KindNamed(const std::string& name);

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
  // Hands the reply that ends a round, so that the root is between rounds again after Handle.
  void EndRound() { Handle(KindNamed("42_46")); }

  // The calls that fn makes on the stand-in host, written down while it runs once.
  HostTape Tape(const std::function<void()>& fn);
  // The stand-in host's share of a piece of work, run alone: the same calls with the same
  // arguments (the requests framed, the images published and saved, the rules copied into the
  // host's list and evaluated, the work items handed over, the resets, the pauses), on the same
  // devices, which are left as the piece left them.
  void RunHostShare(const HostTape& tape);

  // The record of a reply as the host decodes it: VER ADR CID1 RTN LENGTH INFO, exactly that
  // size.
  std::vector<unsigned char>& Record(uint16_t command, bool statesChanged);

  RVT2600& root() { return *root_; }
  ZelVDevice& Unit(unsigned dataId) { return *root_->GetChildVDevice(dataId); }

 private:
  // The unit a call was made for (the rectifier unit carries the root's data id).
  ZelVDevice& UnitOf(const HostCall& call);

  std::shared_ptr<NullController> controller_;
  std::shared_ptr<RVT2600> root_;
  TTime stamp_{};  // what the host's share stamps
  std::map<std::pair<uint16_t, bool>, std::vector<unsigned char>> records_;
};

}  // namespace bench
