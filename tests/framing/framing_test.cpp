// Frames on the serial line: the known vectors and every kind of damage a receiver must drop.
#include <gtest/gtest.h>

#include <string>

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
