#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "Encoder.h"
#include "Frame.h"
#include "Scenario.h"

// The power system's side of the line: request frames in, reply bytes out.
namespace sim {

// What to write for one request: nothing (silence), or the reply in one or more pieces.
struct Output {
  std::vector<std::string> pieces;
  unsigned delayMs = 0;  // pause between pieces
  unsigned holdMs = 0;   // pause before the first piece
};

// Reply frames that the line noise of the scenario damaged.
struct LineDamage {
  uint64_t dropped = 0;  // one byte left out
  uint64_t flipped = 0;  // one bit changed
  uint64_t Total() const { return dropped + flipped; }
};

class Responder {
 public:
  explicit Responder(Scenario scenario);

  // One line per frame: "<<" a request, ">>" a reply, and what was injected or dropped.
  void SetTrace(std::function<void(const std::string&)> trace) { trace_ = std::move(trace); }

  // Bytes read from the line; the replies to the requests they complete, in order. `lineBaud`
  // is the speed the master set on the line (0: not known). At a speed other than the
  // scenario's the power system cannot read the request as sent, and what it answers to its
  // address reaches the master as noise: a frame whose CHKSUM does not match.
  std::vector<Output> Feed(const uint8_t* data, size_t len, unsigned lineBaud = 0);
  // The reply to one decoded request.
  Output Answer(const framing::Frame& request);

  // The round the last request belongs to: a request earlier in the chain than the one
  // before it starts a round; the same request again is a retry within the round.
  unsigned Round() const { return round_; }
  uint64_t Requests() const { return requests_; }
  const LineDamage& Damage() const { return damage_; }

 private:
  void Trace(const std::string& line) const;
  void StartRoundIfDue(uint16_t command);
  Flags CurrentFlags(const Site& site, uint16_t command);
  // Line noise on the bytes of a reply; what it did, for the trace.
  std::string AddNoise(std::string& wire);

  Scenario scenario_;
  std::function<void(const std::string&)> trace_;
  framing::Receiver receiver_;
  unsigned round_ = 0;
  int lastPosition_ = -1;
  uint64_t requests_ = 0;
  Flags flags_;
  // INFO after the flags byte of the last switch and alarm replies sent, per command.
  std::map<uint16_t, std::vector<uint8_t>> lastSent_;
  // Replies damaged so far by each fault, in the round it last acted in.
  std::vector<std::pair<unsigned, unsigned>> used_;
  std::mt19937_64 noiseRandom_;
  LineDamage damage_;
};

}  // namespace sim
