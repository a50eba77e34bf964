#pragma once

#include <json/value.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Bench.h"
#include "RVT2600.h"

namespace rvt_fuzz {

// How the power system is configured for a cycle.
struct SiteShape {
  size_t ac = 1;                // AC units, data ids 11, 12, ...
  size_t dc = 1;                // DC units, data ids 21, 22, ...
  bool version21 = false;       // protocol version 0x21: the DC requests carry INFO
  unsigned fullRefreshS = 600;  // the host re-reads every state this often
  bool worker = false;          // work items on the host's worker thread
};

// A part the root handed to a unit while it handled the last reply.
struct PartSeen {
  const char* op;  // "parse40_41", ...
  int remaining;
  int result;
  std::vector<uint8_t> bytes;  // the bytes the result claims, when they lie inside the part
};

// An RVT2600 with its units on the stand-in host, driven one host call at a time. After each
// call it checks what the host saw: the step is a legal one, a reply the cycle must drop is
// followed by no request, an accepted reply by the next request or the end of the round, every
// request is the one of its step, and every image has the length of its record. The first
// broken rule is kept.
class Cycle {
 public:
  static constexpr unsigned kRootId = 1;

  explicit Cycle(const SiteShape& shape);
  ~Cycle();
  Cycle(const Cycle&) = delete;
  Cycle& operator=(const Cycle&) = delete;

  // The clock moves on by `seconds`, then the host asks the root for a request.
  void Refresh(unsigned seconds);
  // A reply to the outstanding request, in a record of exactly its size. As on the host,
  // nothing happens while no request waits.
  void Reply(uint8_t cid1, const uint8_t* info, size_t n);
  // The reply time of the outstanding request runs out.
  void Timeout();

  bool Waiting() const { return root_->outstanding_ != 0; }
  uint32_t Step() const { return root_->step_; }
  // The command group a reply to the current step carries.
  uint8_t ExpectedGroup() const;
  // The parts of the last reply, in the order the units got them.
  const std::vector<PartSeen>& Parts() const { return parts_; }
  uint64_t Requests() const { return requests_; }
  uint64_t Rounds() const { return rounds_; }
  zel::Controller& Host() { return *bench_.controller; }
  // The first rule the cycle broke, "" while none.
  const std::string& Broken() const { return broken_; }

 private:
  struct Verdict {
    bool drop;
    const char* why;
  };
  Verdict Judge(uint32_t step, uint8_t cid1, const uint8_t* info, size_t n) const;
  Verdict PartsFill(size_t start, size_t n) const;
  void OnEvent(const zel::Event& e);
  void CheckRequest(const zel::Event& e);
  void CheckImage(const zel::Event& e);
  void CheckStep(const char* after);
  void Break(const std::string& rule);

  SiteShape shape_;
  zel::Bench bench_;
  std::vector<PartSeen> parts_;
  std::shared_ptr<RVT2600> root_;
  std::string broken_;
  uint64_t requests_ = 0;
  uint64_t rounds_ = 0;
  // Data ids in the order their units published during the current host call.
  std::vector<unsigned> published_;
  uint64_t calls_ = 0;
};

}  // namespace rvt_fuzz
