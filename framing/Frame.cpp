#include "Frame.h"

namespace framing {
namespace {

const char kHex[] = "0123456789ABCDEF";
// VER ADR CID1 CID2 (8) + LENGTH (4) + CHKSUM (4)
constexpr size_t kFixedChars = 16;

void PutHex(std::string& out, unsigned value, int digits) {
  for (int d = digits - 1; d >= 0; --d) out.push_back(kHex[(value >> (4 * d)) & 0xF]);
}

constexpr char kBlank = ' ';
// The byte a pair of blanks stands for.
constexpr uint8_t kBlankByte = 0x20;
// VER ADR CID1 CID2 (8) + LENGTH (4): where INFO starts.
constexpr size_t kInfoStart = 12;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool AllHex(const std::string& s, size_t pos, size_t n) {
  for (size_t k = pos; k < pos + n; ++k)
    if (HexValue(s[k]) < 0) return false;
  return true;
}

unsigned GetHex(const std::string& s, size_t pos, int digits) {
  unsigned v = 0;
  for (int d = 0; d < digits; ++d) v = v << 4 | static_cast<unsigned>(HexValue(s[pos + d]));
  return v;
}

}  // namespace

uint16_t LengthField(uint16_t lenid) {
  lenid &= 0x0FFF;
  const unsigned sum = (lenid & 0xF) + ((lenid >> 4) & 0xF) + ((lenid >> 8) & 0xF);
  const unsigned lchk = (~sum + 1) & 0xF;
  return static_cast<uint16_t>(lchk << 12 | lenid);
}

uint16_t Checksum(const char* text, size_t len) {
  unsigned sum = 0;
  for (size_t k = 0; k < len; ++k) sum += static_cast<unsigned char>(text[k]);
  return static_cast<uint16_t>((~sum + 1) & 0xFFFF);
}

std::string Encode(const Frame& frame) {
  const size_t n = frame.info.size() < kMaxInfo ? frame.info.size() : kMaxInfo;
  std::string out;
  out.reserve(kFixedChars + 2 * n + 2);
  out.push_back(kSoi);
  PutHex(out, frame.ver, 2);
  PutHex(out, frame.adr, 2);
  PutHex(out, frame.cid1, 2);
  PutHex(out, frame.cid2, 2);
  PutHex(out, LengthField(static_cast<uint16_t>(2 * n)), 4);
  for (size_t k = 0; k < n; ++k) PutHex(out, frame.info[k], 2);
  PutHex(out, Checksum(out.data() + 1, out.size() - 1), 4);
  out.push_back(kEoi);
  return out;
}

const char* FaultText(Fault fault) {
  switch (fault) {
    case Fault::None:
      return "none";
    case Fault::BadCharacter:
      return "bad character";
    case Fault::BlankOutsideInfo:
      return "blank outside INFO";
    case Fault::SingleBlank:
      return "single blank in INFO";
    case Fault::TooShort:
      return "frame too short";
    case Fault::BadLengthChecksum:
      return "bad LCHKSUM";
    case Fault::LengthMismatch:
      return "LENID does not match INFO";
    case Fault::BadChecksum:
      return "bad CHKSUM";
    case Fault::Overlong:
      return "frame too long";
  }
  return "unknown";
}

// The characters between SOI and EOI; a reply with blank fill (blanks shown as dots):
//   2001 4000 A060 2B91EC43 ... 79AEB13E ........ 00CB96D142 ................ EA9D
//   0    4    8    12                                                         12 + LENID
//   VER  CID1 LENGTH  INFO: a hex pair or a blank pair per byte                CHKSUM
//   ADR  RTN
Fault DecodeBody(const std::string& body, Frame& out) {
  for (char c : body)
    if (c != kBlank && HexValue(c) < 0) return Fault::BadCharacter;
  if (body.size() < kFixedChars) return Fault::TooShort;
  if (!AllHex(body, 0, kInfoStart)) return Fault::BlankOutsideInfo;
  const unsigned length = GetHex(body, 8, 4);
  const uint16_t lenid = length & 0x0FFF;
  if (LengthField(lenid) != length) return Fault::BadLengthChecksum;
  if (lenid % 2 != 0 || body.size() != kFixedChars + lenid) return Fault::LengthMismatch;
  const size_t infoEnd = kInfoStart + lenid;
  if (!AllHex(body, infoEnd, 4)) return Fault::BlankOutsideInfo;
  for (size_t k = kInfoStart; k < infoEnd; k += 2)
    if ((body[k] == kBlank) != (body[k + 1] == kBlank)) return Fault::SingleBlank;
  // Over the characters as sent, blanks included.
  if (GetHex(body, infoEnd, 4) != Checksum(body.data(), infoEnd)) return Fault::BadChecksum;

  out.ver = static_cast<uint8_t>(GetHex(body, 0, 2));
  out.adr = static_cast<uint8_t>(GetHex(body, 2, 2));
  out.cid1 = static_cast<uint8_t>(GetHex(body, 4, 2));
  out.cid2 = static_cast<uint8_t>(GetHex(body, 6, 2));
  out.info.resize(lenid / 2);
  for (size_t k = 0; k < out.info.size(); ++k) {
    const size_t at = kInfoStart + 2 * k;
    out.info[k] = body[at] == kBlank ? kBlankByte : static_cast<uint8_t>(GetHex(body, at, 2));
  }
  return Fault::None;
}

Receiver::Status Receiver::Feed(uint8_t byte) {
  const char c = static_cast<char>(byte);
  if (c == kSoi) {
    inFrame_ = true;
    body_.clear();
    return Status::Incomplete;
  }
  if (!inFrame_) return Status::Incomplete;
  if (c == kEoi) {
    inFrame_ = false;
    fault_ = DecodeBody(body_, frame_);
    return fault_ == Fault::None ? Status::Frame : Status::Fault;
  }
  body_.push_back(c);
  if (body_.size() > kFixedChars + 2 * kMaxInfo) {
    inFrame_ = false;
    fault_ = Fault::Overlong;
    return Status::Fault;
  }
  return Status::Incomplete;
}

void Receiver::Clear() {
  inFrame_ = false;
  body_.clear();
}

}  // namespace framing
