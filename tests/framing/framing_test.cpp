// Frames on the serial line: the known vectors and every kind of damage a receiver must drop.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "Frame.h"

namespace {

using framing::Fault;
using framing::Frame;
using framing::Receiver;

TEST(Framing, LengthFieldVectors) {
  EXPECT_EQ(framing::LengthField(0x012), 0xD012);
  EXPECT_EQ(framing::LengthField(0x088), 0x0088);
  EXPECT_EQ(framing::LengthField(0x000), 0x0000);
}

TEST(Framing, EncodesTheKnownRequest) {
  Frame f;
  f.ver = 0x20;
  f.adr = 0x01;
  f.cid1 = 0x46;
  f.cid2 = 0x42;
  f.info = {0x01};
  EXPECT_EQ(framing::Encode(f), "~20014642E00201FD35\r");
}

// Feeds a whole byte string; returns the status after the last byte.
Receiver::Status FeedAll(Receiver& r, const std::string& bytes) {
  Receiver::Status s = Receiver::Status::Incomplete;
  for (char c : bytes) s = r.Feed(static_cast<uint8_t>(c));
  return s;
}

TEST(Framing, RoundTripAndJunkBeforeSoi) {
  Frame f;
  f.cid1 = 0x42;
  f.cid2 = 0x00;
  for (int k = 0; k < 200; ++k) f.info.push_back(static_cast<uint8_t>(k * 7));
  Receiver r;
  ASSERT_EQ(FeedAll(r, "\x01garbage" + framing::Encode(f)), Receiver::Status::Frame);
  EXPECT_EQ(r.frame(), f);
}

TEST(Framing, DamagedFrames) {
  const std::string good = "~20014642E00201FD35\r";
  struct Case {
    const char* what;
    std::string bytes;
    Receiver::Status status;
    Fault fault;
  } cases[] = {
      {"good", good, Receiver::Status::Frame, Fault::None},
      {"bad LCHKSUM", "~20014642F00201FD35\r", Receiver::Status::Fault, Fault::BadLengthChecksum},
      {"bad CHKSUM", "~20014642E00201FD36\r", Receiver::Status::Fault, Fault::BadChecksum},
      {"LENID longer than INFO",
       "~20014642C004"
       "01"
       "FD35\r",
       Receiver::Status::Fault, Fault::LengthMismatch},
      {"lowercase hex", "~20014642e00201fd35\r", Receiver::Status::Fault, Fault::BadCharacter},
      {"truncated", "~20014642E0\r", Receiver::Status::Fault, Fault::TooShort},
      {"restart on SOI", "~2001~20014642E00201FD35\r", Receiver::Status::Frame, Fault::None},
      {"no EOI yet", "~20014642E00201FD35", Receiver::Status::Incomplete, Fault::None},
  };
  for (const Case& c : cases) {
    Receiver r;
    EXPECT_EQ(FeedAll(r, c.bytes), c.status) << c.what;
    if (c.status == Receiver::Status::Fault) {
      EXPECT_EQ(r.fault(), c.fault) << c.what;
    }
  }
}

// A reply of CID1 0x40 as a power system sends it, INFO exactly as given (blanks included):
// LENGTH and CHKSUM over the characters as sent, unless sumOf gives other characters to sum.
std::string Reply(const std::string& info, const std::string* sumOf = nullptr) {
  char length[8];
  std::snprintf(length, sizeof length, "%04X",
                framing::LengthField(static_cast<uint16_t>(info.size())));
  const std::string body = "20014000" + std::string(length) + info;
  const std::string summed = sumOf != nullptr ? "20014000" + std::string(length) + *sumOf : body;
  char sum[8];
  std::snprintf(sum, sizeof sum, "%04X", framing::Checksum(summed.data(), summed.size()));
  return "~" + body + sum + "\r";
}

TEST(Framing, BlankFillInInfoIsReadAsTheByte20) {
  const std::string hexOnly = "01020304";  // what the blanks would leave, summed instead
  const std::string twenty = "01202020";   // hex digits where the blanks stand, summed instead
  std::string blankInLength = Reply("    ");
  blankInLength[10] = ' ';
  std::string blankInChecksum = Reply("    ");
  blankInChecksum[blankInChecksum.size() - 3] = ' ';
  struct Case {
    const char* what;
    std::string bytes;
    Fault fault;
    std::vector<uint8_t> info;
  } cases[] = {
      {"pair at the start", Reply("  0102"), Fault::None, {0x20, 0x01, 0x02}},
      {"pair in the middle", Reply("01  02"), Fault::None, {0x01, 0x20, 0x02}},
      {"pair at the end", Reply("0102  "), Fault::None, {0x01, 0x02, 0x20}},
      {"a float of blanks",
       Reply("01        02"),
       Fault::None,
       {0x01, 0x20, 0x20, 0x20, 0x20, 0x02}},
      {"INFO all blanks", Reply("    "), Fault::None, {0x20, 0x20}},
      {"hex 20 is 20 too", Reply("2020"), Fault::None, {0x20, 0x20}},
      {"odd number of blanks", Reply("01   002"), Fault::SingleBlank, {}},
      {"blank before a digit", Reply(" 1"), Fault::SingleBlank, {}},
      {"blank after a digit", Reply("0 "), Fault::SingleBlank, {}},
      {"blank in the header", "~20 14000" + Reply("0102").substr(9), Fault::BlankOutsideInfo, {}},
      {"blank in LENGTH", blankInLength, Fault::BlankOutsideInfo, {}},
      {"blank in CHKSUM", blankInChecksum, Fault::BlankOutsideInfo, {}},
      {"CHKSUM without the blanks", Reply("0102    0304", &hexOnly), Fault::BadChecksum, {}},
      {"CHKSUM over 20 for the blanks", Reply("01      ", &twenty), Fault::BadChecksum, {}},
      {"tab in INFO", Reply("01\t\t"), Fault::BadCharacter, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Receiver r;
    const Receiver::Status s = FeedAll(r, c.bytes);
    if (c.fault == Fault::None) {
      ASSERT_EQ(s, Receiver::Status::Frame) << framing::FaultText(r.fault());
      EXPECT_EQ(r.frame().cid1, 0x40);
      EXPECT_EQ(r.frame().info, c.info);
    } else {
      ASSERT_EQ(s, Receiver::Status::Fault);
      EXPECT_EQ(r.fault(), c.fault) << framing::FaultText(r.fault());
    }
  }
  EXPECT_STREQ(framing::FaultText(Fault::BlankOutsideInfo), "blank outside INFO");
  EXPECT_STREQ(framing::FaultText(Fault::SingleBlank), "single blank in INFO");
}

// An AC analog reply as a power system of this protocol family sent it (public capture): two
// values not available, written as blanks, counted in LENGTH and summed in CHKSUM as sent.
TEST(Framing, CapturedReplyWithBlankFillPassesWhole) {
  const std::string capture =
      "~20014000A0600002B91EC343FCA3C34318DCC243E2E6474200DB42853FDB42053F79AEB13E        "
      "00CB96D142                EA9D\r";
  Receiver r;
  ASSERT_EQ(FeedAll(r, capture), Receiver::Status::Frame) << framing::FaultText(r.fault());
  const Frame& f = r.frame();
  EXPECT_EQ(f.ver, 0x20);
  EXPECT_EQ(f.adr, 0x01);
  EXPECT_EQ(f.cid1, 0x40);
  EXPECT_EQ(f.cid2, 0x00);
  ASSERT_EQ(f.info.size(), 48u);
  const std::vector<uint8_t> marker(4, 0x20);
  EXPECT_EQ(f.info[30], 0x3E);
  EXPECT_EQ(std::vector<uint8_t>(f.info.begin() + 31, f.info.begin() + 35), marker);
  EXPECT_EQ(std::vector<uint8_t>(f.info.begin() + 35, f.info.begin() + 40),
            (std::vector<uint8_t>{0x00, 0xCB, 0x96, 0xD1, 0x42}));
  EXPECT_EQ(std::vector<uint8_t>(f.info.begin() + 40, f.info.end()), std::vector<uint8_t>(8, 0x20));
  // The encoder writes the same bytes as hex digits, a frame of its own sum.
  Receiver again;
  ASSERT_EQ(FeedAll(again, framing::Encode(f)), Receiver::Status::Frame);
  EXPECT_EQ(again.frame(), f);
  EXPECT_EQ(framing::Encode(f).find(' '), std::string::npos);
}

// LENID's 12 bits carry at most 4094 INFO characters: such a frame passes whole; one character
// more can be no frame.
TEST(Framing, TheLargestFrameLENGTHCanCarry) {
  Frame largest;
  largest.cid1 = 0x42;
  for (size_t k = 0; k < framing::kMaxInfo; ++k) largest.info.push_back(static_cast<uint8_t>(k));
  const std::string whole = framing::Encode(largest);
  ASSERT_EQ(whole.size(), 1 + 12 + 4094 + 4 + 1u);
  ASSERT_EQ(whole.substr(9, 4), "4FFE");
  const struct {
    const char* what;
    std::string bytes;
    Receiver::Status status;
    Fault fault;
  } cases[] = {
      {"2047 INFO bytes", whole, Receiver::Status::Frame, Fault::None},
      // Dropped as soon as the character comes, with no EOI to wait for.
      {"one character more", whole.substr(0, whole.size() - 1) + "0", Receiver::Status::Fault,
       Fault::Overlong},
  };
  for (const auto& c : cases) {
    Receiver r;
    EXPECT_EQ(FeedAll(r, c.bytes), c.status) << c.what;
    EXPECT_EQ(r.fault(), c.fault) << c.what;
    if (c.status == Receiver::Status::Frame) {
      EXPECT_EQ(r.frame(), largest) << c.what;
    }
  }
}

TEST(Framing, RtnAndAddressArePassedOnForTheHostToJudge) {
  Frame reply;
  reply.adr = 0x05;
  reply.cid1 = 0x40;
  reply.cid2 = 0x04;  // RTN
  Receiver r;
  ASSERT_EQ(FeedAll(r, framing::Encode(reply)), Receiver::Status::Frame);
  EXPECT_EQ(r.frame().adr, 0x05);
  EXPECT_EQ(r.frame().cid2, 0x04);
}

}  // namespace
