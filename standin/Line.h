#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "Frame.h"

class PMBusProtocol;

namespace zel {

// Why a reply did not reach the device.
enum class Drop : unsigned {
  NoReply,            // no frame within the reply time
  Gap,                // a started frame went quiet for the gap time
  BadCharacter,       // a character that is neither uppercase hex nor a blank inside a frame
  BlankOutsideInfo,   // a blank where INFO's blank fill cannot stand
  SingleBlank,        // an INFO byte of one blank and one hex digit
  TooShort,           // fewer characters than the fixed fields
  BadLengthChecksum,  // LCHKSUM does not match LENID
  LengthMismatch,     // LENID does not match the INFO received
  BadChecksum,        // CHKSUM does not match
  Overlong,           // more characters than any frame holds
  WrongAddress,       // ADR does not echo the request
  ErrorReturn,        // RTN is not 0
  Unsolicited,        // a frame while no request waits (not a failure of a request)
};
constexpr size_t kDropKinds = static_cast<size_t>(Drop::Unsolicited) + 1;
// Short text of a drop kind: "no reply", "bad CHKSUM", "RTN not 0", ...
const char* DropText(Drop drop);

struct LineCounters {
  uint64_t requests = 0;  // frames written
  uint64_t replies = 0;   // replies handed to the device
  std::array<uint64_t, kDropKinds> drops{};
  // Replies handed to the device that it returned from without a request and without ending
  // the round, by the request they answered ("40 44"): the round waits for the next poll.
  std::map<std::string, uint64_t> untaken;

  uint64_t& operator[](Drop d) { return drops[static_cast<size_t>(d)]; }
  uint64_t operator[](Drop d) const { return drops[static_cast<size_t>(d)]; }
  uint64_t Failures() const;  // every drop but the unsolicited frames
};

// What became of one request, as a recording keeps it: the reply handed on, or none.
struct ReplyOutcome {
  bool answered = false;
  uint8_t cid1 = 0;
  std::vector<uint8_t> info;
};

// The host's side of one device's line: the receiver, the counters and the link state.
struct LineState {
  framing::Receiver receiver;
  LineCounters counters;
  unsigned failuresInRow = 0;
  bool lost = false;        // "communication lost" logged, not yet restored
  uint64_t rounds = 0;      // complete rounds (the device published and reset)
  size_t requestBytes = 0;  // the last request frame, SOI to EOI
  // One line per frame: ">> ~...", "<< ~...", "<< ~... dropped: ...", "<< no reply".
  std::function<void(const std::string&)> trace;
  // Called once a reply has been handled, or a request has failed and process_error has run.
  std::function<void(const ReplyOutcome&)> outcome;
};

// Consecutive failed requests after which the line counts as lost.
constexpr unsigned kLostAfter = 3;

LineState& Line(PMBusProtocol& device);
const LineState& Line(const PMBusProtocol& device);

// The reply time ran out with no frame started: the missing-reply path.
void ReplyMissing(PMBusProtocol& device);
// A started frame went quiet for the gap time: the partial frame is dropped.
void FrameGap(PMBusProtocol& device);

// The line itself went away (end of file, an error, or it did not open): why is logged, then
// "communication lost" unless it is already, and the outstanding request fails as a missing
// reply, so that the device's own recovery runs.
void LineLost(PMBusProtocol& device, const std::string& why);
// The line is open again: "communication restored" if it was lost; failures count from none.
void LineRestored(PMBusProtocol& device);

// Time on the line for bytes at a speed, 10 bits a byte (8N1), in whole milliseconds.
unsigned LineTimeMs(size_t bytes, unsigned baud);

}  // namespace zel
