#include "Responder.h"

#include <algorithm>
#include <cstdio>

namespace sim {
namespace {

// Where each request stands in the command chain; the model query comes before a round.
int ChainPosition(uint16_t command) {
  static const uint16_t kChain[] = {kModel,   kAcAnalog, kAcSwitch, kAcAlarm, kRcAnalog, kRcSwitch,
                                    kRcAlarm, kDcAnalog, kDcAlarm,  kAcParam, kDcParam};
  for (int k = 0; k < static_cast<int>(sizeof kChain / sizeof kChain[0]); ++k)
    if (kChain[k] == command) return k;
  return -1;
}

std::string Printable(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c == '\r') continue;
    if (c >= 0x20 && c < 0x7F) {
      out.push_back(static_cast<char>(c));
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

// The offset a Drop or Flip acts at, within the frame.
size_t Offset(const FaultSpec& f, size_t size) {
  if (!f.at) return size / 2;
  const long at = *f.at < 0 ? static_cast<long>(size) + *f.at : *f.at;
  return static_cast<size_t>(std::clamp(at, 0L, static_cast<long>(size) - 1));
}

// The INFO after its flags byte: what a change flag compares.
std::vector<uint8_t> Body(const Site& site, uint16_t command) {
  Info info;
  EncodeInfo(site, command, Flags{}, info);
  return std::vector<uint8_t>(info.bytes.begin() + 1, info.bytes.end());
}

// Writes the INFO bytes at the offsets given (those the reply still has) as pairs of blanks,
// as a power system writes a value it does not have, and sums CHKSUM over the characters as
// they now stand.
void BlankFill(std::string& wire, const std::vector<size_t>& blanks, size_t infoBytes) {
  constexpr size_t kInfo = 13;  // SOI, VER ADR CID1 RTN LENGTH
  bool any = false;
  for (size_t k : blanks) {
    if (k >= infoBytes) continue;
    wire[kInfo + 2 * k] = ' ';
    wire[kInfo + 2 * k + 1] = ' ';
    any = true;
  }
  if (!any) return;
  const size_t infoEnd = kInfo + 2 * infoBytes;
  char sum[8];
  std::snprintf(sum, sizeof sum, "%04X", framing::Checksum(wire.data() + 1, infoEnd - 1));
  wire.replace(infoEnd, 4, sum);
}

}  // namespace

Responder::Responder(Scenario scenario)
    : scenario_(std::move(scenario)),
      used_(scenario_.Faults().size(), {0u, 0u}),
      noiseRandom_(scenario_.Noise().seed) {}

void Responder::Trace(const std::string& line) const {
  if (trace_) trace_(line);
}

std::vector<Output> Responder::Feed(const uint8_t* data, size_t len, unsigned lineBaud) {
  std::vector<Output> out;
  const unsigned own = scenario_.Baud();
  const bool offSpeed = own != 0 && lineBaud != 0 && lineBaud != own;
  for (size_t k = 0; k < len; ++k) {
    const auto status = receiver_.Feed(data[k]);
    if (status == framing::Receiver::Status::Frame) {
      out.push_back(Answer(receiver_.frame()));
      Output& reply = out.back();
      if (offSpeed && !reply.pieces.empty()) {
        // One piece, its CHKSUM's last digit changed: the bits a master at another speed reads.
        std::string wire;
        for (const std::string& piece : reply.pieces) wire += piece;
        if (wire.size() >= 2) {
          char& digit = wire[wire.size() - 2];
          digit = digit == '0' ? '1' : '0';
        }
        reply.pieces.assign(1, wire);
        Trace("   heard at " + std::to_string(lineBaud) + " baud, set to " + std::to_string(own) +
              ": the reply is noise");
      }
    } else if (status == framing::Receiver::Status::Fault) {
      Trace("<< ~" + Printable(receiver_.body()) +
            "  dropped: " + framing::FaultText(receiver_.fault()));
    }
  }
  return out;
}

void Responder::StartRoundIfDue(uint16_t command) {
  const int position = ChainPosition(command);
  if (position < 0) return;
  if (command == kModel) {
    lastPosition_ = 0;
    return;
  }
  if (lastPosition_ <= 0 || position < lastPosition_) ++round_;
  lastPosition_ = position;
}

Flags Responder::CurrentFlags(const Site& site, uint16_t command) {
  // A state reply counts as changed until it has been sent as it now stands.
  auto changed = [&](uint16_t stateCommand, uint8_t bit) -> uint8_t {
    const auto sent = lastSent_.find(stateCommand);
    return sent == lastSent_.end() || sent->second != Body(site, stateCommand) ? bit : 0;
  };
  if (command == kAcAnalog)
    flags_.ac = site.acFlags.automatic
                    ? changed(kAcSwitch, kSwitchChanged) | changed(kAcAlarm, kAlarmChanged)
                    : site.acFlags.value;
  if (command == kRcAnalog)
    flags_.rc = site.rcFlags.automatic
                    ? changed(kRcSwitch, kSwitchChanged) | changed(kRcAlarm, kAlarmChanged)
                    : site.rcFlags.value;
  if (command == kDcAnalog)
    flags_.dc = site.dcFlags.automatic ? changed(kDcAlarm, kAlarmChanged) : site.dcFlags.value;
  return flags_;
}

Output Responder::Answer(const framing::Frame& request) {
  ++requests_;
  const uint16_t command = CommandOf(request.cid1, request.cid2);
  StartRoundIfDue(command);
  const Site& site = scenario_.SiteAt(round_);
  const std::string stepText = StepName(command) + " round " + std::to_string(round_);
  Trace("<< " + Printable(framing::Encode(request)) + "  " + stepText);
  if (request.adr != site.address) {
    Trace("   not answered: addressed to another device");
    return {};
  }

  framing::Frame reply;
  reply.ver = site.version;
  reply.adr = request.adr;
  reply.cid1 = request.cid1;
  reply.cid2 = 0;  // RTN: normal
  Info info;
  if (!EncodeInfo(site, command, CurrentFlags(site, command), info)) {
    reply.cid2 = 0x04;  // RTN: unknown command
    Output out{{framing::Encode(reply)}, 0};
    Trace(">> " + Printable(out.pieces[0]) + "  unknown command");
    return out;
  }
  const std::vector<uint8_t> sound = info.bytes;

  // The faults that act on this reply, each as often per round as it says.
  std::vector<const FaultSpec*> acting;
  const auto& faults = scenario_.Faults();
  for (size_t k = 0; k < faults.size(); ++k) {
    const FaultSpec& f = faults[k];
    if (f.command != command || (f.round && *f.round != scenario_.Phase(round_))) continue;
    auto& used = used_[k];
    if (used.first != round_) used = {round_, 0};
    if (f.times != 0 && used.second >= f.times) continue;
    ++used.second;
    acting.push_back(&f);
  }

  std::string notes;
  Output out;
  unsigned chunk = 0;
  std::string wire;
  for (int stage = 0; stage < 3; ++stage) {
    // Stage 0 damages the INFO, stage 1 the frame before encoding, stage 2 the bytes.
    if (stage == 2) {
      reply.info = info.bytes;
      wire = framing::Encode(reply);
      BlankFill(wire, info.blanks, std::min(reply.info.size(), framing::kMaxInfo));
    }
    for (const FaultSpec* f : acting) {
      const std::string name = FaultKindName(f->kind);
      switch (f->kind) {
        case FaultKind::Count:
          if (stage == 0) {
            const auto at = info.counts.find(f->field);
            if (at != info.counts.end()) info.bytes[at->second] = static_cast<uint8_t>(f->value);
          }
          break;
        case FaultKind::Cut:
          if (stage == 0)
            info.bytes.resize(info.bytes.size() - std::min<size_t>(info.bytes.size(), f->value));
          break;
        case FaultKind::Cid1:
          if (stage == 1) reply.cid1 = static_cast<uint8_t>(f->value);
          break;
        case FaultKind::Rtn:
          if (stage == 1) reply.cid2 = static_cast<uint8_t>(f->value);
          break;
        case FaultKind::Adr:
          if (stage == 1) reply.adr = static_cast<uint8_t>(f->value);
          break;
        case FaultKind::BadChecksum:
          if (stage == 2) {
            // The last CHKSUM digit, stepped to the next hex digit.
            char& d = wire[wire.size() - 2];
            d = d == '9' ? 'A' : d == 'F' ? '0' : static_cast<char>(d + 1);
          }
          break;
        case FaultKind::Drop:
          if (stage == 2) {
            const size_t at = Offset(*f, wire.size());
            wire.erase(at, std::min<size_t>(f->value, wire.size() - at));
          }
          break;
        case FaultKind::Flip:
          if (stage == 2) wire[Offset(*f, wire.size())] ^= static_cast<char>(f->mask);
          break;
        case FaultKind::Silence:
          break;
        case FaultKind::Chunks:
          if (stage == 2) {
            chunk = f->size;
            out.delayMs = f->delayMs;
          }
          break;
        case FaultKind::Hold:
          if (stage == 2) out.holdMs = f->delayMs;
          break;
      }
      if (stage == 0) notes += (notes.empty() ? "  fault: " : ", ") + name;
    }
  }

  if (acting.empty() && scenario_.Noise().Active()) notes += AddNoise(wire);
  if (std::any_of(acting.begin(), acting.end(),
                  [](const FaultSpec* f) { return f->kind == FaultKind::Silence; })) {
    Trace("   no reply" + notes);
    return {};
  }
  if (command == kAcSwitch || command == kAcAlarm || command == kRcSwitch || command == kRcAlarm ||
      command == kDcAlarm)
    lastSent_[command].assign(sound.begin() + 1, sound.end());
  if (chunk == 0) chunk = static_cast<unsigned>(wire.size());
  for (size_t at = 0; at < wire.size(); at += chunk) out.pieces.push_back(wire.substr(at, chunk));
  Trace(">> " + Printable(wire) + notes);
  return out;
}

std::string Responder::AddNoise(std::string& wire) {
  const LineNoise& noise = scenario_.Noise();
  const double roll = std::uniform_real_distribution<double>(0.0, 100.0)(noiseRandom_);
  if (roll >= noise.dropPercent + noise.flipPercent || wire.empty()) return "";
  const size_t at = std::uniform_int_distribution<size_t>(0, wire.size() - 1)(noiseRandom_);
  if (roll < noise.dropPercent) {
    wire.erase(at, 1);
    ++damage_.dropped;
    return "  noise: byte " + std::to_string(at) + " dropped";
  }
  const int bit = std::uniform_int_distribution<int>(0, 7)(noiseRandom_);
  wire[at] = static_cast<char>(wire[at] ^ (1 << bit));
  ++damage_.flipped;
  return "  noise: bit " + std::to_string(bit) + " of byte " + std::to_string(at) + " flipped";
}

}  // namespace sim
