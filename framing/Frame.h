#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Frames on the serial line: SOI '~', then VER ADR CID1 CID2/RTN LENGTH INFO CHKSUM as
// uppercase ASCII hex, then EOI CR. One encoder and one decoder, shared by the host and the
// simulator. A power system may write a pair of blanks for an INFO byte it has no value for
// (blank fill): the decoder reads the pair as 0x20; LENID and CHKSUM count the characters as
// sent, blanks included. The encoder writes hex digits only.
namespace framing {

constexpr char kSoi = '~';
constexpr char kEoi = '\r';
// LENID has 12 bits: at most 4094 INFO characters of whole bytes.
constexpr size_t kMaxInfo = 2047;

struct Frame {
  uint8_t ver = 0x20;
  uint8_t adr = 1;
  uint8_t cid1 = 0;
  uint8_t cid2 = 0;  // CID2 of a request, RTN of a reply
  std::vector<uint8_t> info;

  bool operator==(const Frame& o) const {
    return ver == o.ver && adr == o.adr && cid1 == o.cid1 && cid2 == o.cid2 && info == o.info;
  }
};

// LENGTH for a LENID (the number of INFO hex characters): LCHKSUM in the top four bits.
uint16_t LengthField(uint16_t lenid);
// CHKSUM of the characters after SOI up to the end of INFO.
uint16_t Checksum(const char* text, size_t len);
// The whole frame, SOI to EOI.
std::string Encode(const Frame& frame);

enum class Fault {
  None,
  BadCharacter,       // neither an uppercase hex digit nor a blank
  BlankOutsideInfo,   // a blank in VER to LENGTH or in CHKSUM
  SingleBlank,        // an INFO byte of one blank and one hex digit
  TooShort,           // fewer characters than the fixed fields
  BadLengthChecksum,  // LCHKSUM does not match LENID
  LengthMismatch,     // LENID differs from the INFO characters received (or is odd)
  BadChecksum,        // CHKSUM does not match
  Overlong,           // more characters than any frame can hold
};
const char* FaultText(Fault fault);

// Decodes what lies between SOI and EOI.
Fault DecodeBody(const std::string& body, Frame& out);

// Collects frames from a byte stream: discards bytes until SOI, starts over on an SOI inside a
// frame, ends a frame at EOI.
class Receiver {
 public:
  enum class Status { Incomplete, Frame, Fault };

  Status Feed(uint8_t byte);
  // Forgets a partial frame.
  void Clear();
  bool InFrame() const { return inFrame_; }
  const Frame& frame() const { return frame_; }
  Fault fault() const { return fault_; }
  // The characters of the last frame or fault, for tracing.
  const std::string& body() const { return body_; }

 private:
  bool inFrame_ = false;
  std::string body_;
  Frame frame_;
  Fault fault_ = Fault::None;
};

}  // namespace framing
