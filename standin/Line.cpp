// The protocol base on the serial line: requests framed and written, replies collected byte by
// byte, checked and decoded into the reply record, everything else counted and sent down the
// host's error path.
#include "Line.h"

#include <cstdio>

#include "PMBusProtocol.h"

namespace zel {
namespace {

std::string Hex2(unsigned v) {
  char s[3];
  std::snprintf(s, sizeof s, "%02X", v & 0xFFu);
  return s;
}

std::string Command(const PMBusProtocol& d) {
  return Hex2(d.lastCid1_) + " " + Hex2(d.lastCid2_);
}

// The characters of a frame as received, with anything unprintable shown as \xNN.
std::string Shown(const std::string& body) {
  std::string out = "~";
  for (char c : body) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x20 && b < 0x7F) {
      out.push_back(c);
    } else {
      out += "\\x" + Hex2(b);
    }
  }
  return out;
}

void Log(const PMBusProtocol& d, const std::string& text) {
  if (auto c = d.controller_.lock()) c->Log(d.DataId(), "zelhost: " + text);
}

void Trace(const LineState& line, const std::string& text) {
  if (line.trace) line.trace(text);
}

// Every drop kind in the order of Drop, with the receiver's fault it stands for (its text is
// the fault's) or a text of its own.
struct DropRow {
  Drop drop;
  framing::Fault fault;
  const char* text;
};
const DropRow kDrops[] = {
    {Drop::NoReply, framing::Fault::None, "no reply"},
    {Drop::Gap, framing::Fault::None, "gap inside a frame"},
    {Drop::BadCharacter, framing::Fault::BadCharacter, nullptr},
    {Drop::BlankOutsideInfo, framing::Fault::BlankOutsideInfo, nullptr},
    {Drop::SingleBlank, framing::Fault::SingleBlank, nullptr},
    {Drop::TooShort, framing::Fault::TooShort, nullptr},
    {Drop::BadLengthChecksum, framing::Fault::BadLengthChecksum, nullptr},
    {Drop::LengthMismatch, framing::Fault::LengthMismatch, nullptr},
    {Drop::BadChecksum, framing::Fault::BadChecksum, nullptr},
    {Drop::Overlong, framing::Fault::Overlong, nullptr},
    {Drop::WrongAddress, framing::Fault::None, "ADR does not echo the request"},
    {Drop::ErrorReturn, framing::Fault::None, "RTN not 0"},
    {Drop::Unsolicited, framing::Fault::None, "no request waits"},
};
static_assert(sizeof kDrops / sizeof kDrops[0] == kDropKinds, "a row for every drop kind");

Drop DropOf(framing::Fault fault) {
  for (const DropRow& row : kDrops)
    if (row.fault == fault && row.text == nullptr) return row.drop;
  return Drop::BadCharacter;
}

// A request failed: counted, logged while the line is up, then the host's error path.
void Fail(PMBusProtocol& d, Drop drop, const std::string& detail) {
  LineState& line = Line(d);
  ++line.counters[drop];
  if (!line.lost) {
    Log(d, drop == Drop::NoReply ? "no reply to " + Command(d)
                                 : "reply to " + Command(d) + " dropped: " + detail);
    if (++line.failuresInRow >= kLostAfter) {
      line.lost = true;
      Log(d, "communication lost");
    }
  }
  d.process_error();
  if (line.outcome) line.outcome(ReplyOutcome{});
}

// A reply the device returned from without a next request and without ending its round (parts
// that do not fill the reply, a command group not the request's): nothing else would show it.
void Untaken(PMBusProtocol& d) {
  LineState& line = Line(d);
  ++line.counters.untaken[Command(d)];
  Log(d, "reply to " + Command(d) + " not taken by the device, round waits");
}

// A frame or fault while no request waits: counted, never the device's business.
void Stray(PMBusProtocol& d, Drop drop) {
  LineState& line = Line(d);
  ++line.counters[drop];
  if (!line.lost) Log(d, std::string("frame without a request dropped: ") + DropText(drop));
}

void OnFault(PMBusProtocol& d) {
  LineState& line = Line(d);
  const framing::Fault fault = line.receiver.fault();
  Trace(line, "<< " + Shown(line.receiver.body()) + " dropped: " + framing::FaultText(fault));
  if (d.outstanding_) {
    Fail(d, DropOf(fault), framing::FaultText(fault));
  } else {
    Stray(d, DropOf(fault));
  }
}

void OnFrame(PMBusProtocol& d) {
  LineState& line = Line(d);
  const framing::Frame frame = line.receiver.frame();
  const std::string shown = Shown(line.receiver.body());
  if (!d.outstanding_) {
    Trace(line, "<< " + shown + " dropped: no request waits");
    Stray(d, Drop::Unsolicited);
    return;
  }
  if (frame.adr != d.address_) {
    const std::string why = "ADR " + Hex2(frame.adr) + " does not echo " + Hex2(d.address_);
    Trace(line, "<< " + shown + " dropped: " + why);
    Fail(d, Drop::WrongAddress, why);
    return;
  }
  if (frame.cid2 != 0) {
    const std::string why = "RTN " + Hex2(frame.cid2);
    Trace(line, "<< " + shown + " dropped: " + why);
    Fail(d, Drop::ErrorReturn, why);
    return;
  }
  Trace(line, "<< " + shown);

  ReplyRecord& r = d.rxReply_;
  const size_t n =
      frame.info.size() < ReplyRecord::kMaxInfo ? frame.info.size() : ReplyRecord::kMaxInfo;
  r.ver = frame.ver;
  r.adr = frame.adr;
  r.cid1 = frame.cid1;
  r.rtn = frame.cid2;
  r.length[0] = static_cast<unsigned char>((2 * n) & 0xFF);
  r.length[1] = static_cast<unsigned char>((2 * n) >> 8);
  for (size_t k = 0; k < n; ++k) r.info[k] = frame.info[k];

  ++line.counters.replies;
  line.failuresInRow = 0;
  if (line.lost) {
    line.lost = false;
    Log(d, "communication restored");
  }
  if (d.HandleReply(&r) != 0 && !d.outstanding_) Untaken(d);
  if (line.outcome) line.outcome(ReplyOutcome{true, frame.cid1, frame.info});
}

}  // namespace

const char* DropText(Drop drop) {
  const DropRow& row = kDrops[static_cast<size_t>(drop)];
  return row.text != nullptr ? row.text : framing::FaultText(row.fault);
}

uint64_t LineCounters::Failures() const {
  uint64_t n = 0;
  for (size_t k = 0; k < kDropKinds; ++k)
    if (static_cast<Drop>(k) != Drop::Unsolicited) n += drops[k];
  return n;
}

LineState& Line(PMBusProtocol& device) {
  return *device.line_;
}

const LineState& Line(const PMBusProtocol& device) {
  return *device.line_;
}

void ReplyMissing(PMBusProtocol& device) {
  if (!device.outstanding_) return;
  LineState& line = Line(device);
  line.receiver.Clear();
  Trace(line, "<< no reply to " + Command(device));
  Fail(device, Drop::NoReply, "");
}

void FrameGap(PMBusProtocol& device) {
  LineState& line = Line(device);
  if (!line.receiver.InFrame()) return;
  Trace(line, "<< " + Shown(line.receiver.body()) + " dropped: " + DropText(Drop::Gap));
  line.receiver.Clear();
  if (device.outstanding_) {
    Fail(device, Drop::Gap, DropText(Drop::Gap));
  } else {
    Stray(device, Drop::Gap);
  }
}

void LineLost(PMBusProtocol& device, const std::string& why) {
  LineState& line = Line(device);
  Log(device, why);
  if (!line.lost) {
    line.lost = true;
    Log(device, "communication lost");
  }
  line.receiver.Clear();  // a frame cut off by the loss is no reply
  ReplyMissing(device);
}

void LineRestored(PMBusProtocol& device) {
  LineState& line = Line(device);
  line.failuresInRow = 0;
  if (!line.lost) return;
  line.lost = false;
  Log(device, "communication restored");
}

unsigned LineTimeMs(size_t bytes, unsigned baud) {
  if (baud == 0) return 0;
  return static_cast<unsigned>((bytes * 10 * 1000 + baud - 1) / baud);
}

}  // namespace zel

// ---- the protocol base's side of the line ----

int PMBusProtocol::process(unsigned char* data, unsigned int len) {
  zel::LineState& line = zel::Line(*this);
  for (unsigned int k = 0; k < len; ++k) {
    switch (line.receiver.Feed(data[k])) {
      case framing::Receiver::Status::Incomplete:
        break;
      case framing::Receiver::Status::Frame:
        zel::OnFrame(*this);
        break;
      case framing::Receiver::Status::Fault:
        zel::OnFault(*this);
        break;
    }
  }
  return static_cast<int>(len);
}

void PMBusProtocol::write_pmbus_cmd(unsigned char cid1, unsigned char cid2,
                                    const unsigned char* info, unsigned int len) {
  framing::Frame frame;
  frame.ver = protocolVersion_;
  frame.adr = address_;
  frame.cid1 = cid1;
  frame.cid2 = cid2;
  if (info != nullptr) frame.info.assign(info, info + len);
  const std::string bytes = framing::Encode(frame);

  if (auto c = controller_.lock()) c->Request(DataId(), cid1, cid2, info, len);
  lastCid1_ = cid1;
  lastCid2_ = cid2;
  outstanding_ = 1;
  ++requestsSent_;
  zel::LineState& line = zel::Line(*this);
  line.receiver.Clear();  // bytes before the request belong to no reply
  ++line.counters.requests;
  line.requestBytes = bytes.size();
  zel::Trace(line, ">> " + bytes.substr(0, bytes.size() - 1));
  SendData(reinterpret_cast<const unsigned char*>(bytes.data()),
           static_cast<unsigned int>(bytes.size()));
}
