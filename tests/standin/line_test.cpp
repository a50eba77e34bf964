// The stand-in host on the serial line: requests as framed, replies as the host takes or drops
// them, the missing-reply path and the communication state.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Frame.h"
#include "HostTest.h"
#include "Line.h"
#include "Link.h"

namespace {

using zel::Drop;

// Keeps what the host writes to the line.
struct CaptureLink : ZelLink {
  bool Open() override { return true; }
  void Close() override {}
  bool IsOpen() const override { return true; }
  void Write(const unsigned char* data, unsigned int len) override {
    written.append(reinterpret_cast<const char*>(data), len);
  }
  std::string written;
};

// A device that keeps every reply handed to it.
struct Recorded {
  unsigned char cid1;
  unsigned char rtn;
  unsigned length;  // the length field, low byte first
  std::vector<unsigned char> info;
};
struct Device : rvt_test::PlainDevice {
  int process_payload() override {
    const unsigned length = reply_->length[0] | reply_->length[1] << 8;
    replies.push_back({reply_->cid1, reply_->rtn, length,
                       std::vector<unsigned char>(reply_->info, reply_->info + length / 2)});
    return 0;  // taken: each reply is a round of its own
  }
  std::vector<Recorded> replies;
};

std::string Frame(uint8_t adr, uint8_t cid1, uint8_t rtn, std::vector<uint8_t> info,
                  uint8_t ver = 0x20) {
  framing::Frame f;
  f.ver = ver;
  f.adr = adr;
  f.cid1 = cid1;
  f.cid2 = rtn;
  f.info = std::move(info);
  return framing::Encode(f);
}

class LineTest : public rvt_test::VirtualClockTest {
 protected:
  void SetUp() override {
    VirtualClockTest::SetUp();
    Fresh();
  }

  // A new device on a new line, and an empty journal.
  void Fresh() {
    link = std::make_shared<CaptureLink>();
    device = std::make_shared<Device>();
    device->AttachLink(link);
    Json::Value settings;
    settings["address"] = 1;
    bench.Start(*device, 7, settings);
    bench.controller->ClearJournal();
    trace.clear();
    zel::Line(*device).trace = [this](const std::string& t) { trace.push_back(t); };
  }

  void Request(uint8_t cid1 = 0x40, uint8_t cid2 = 0x41) {
    const unsigned char ff = 0xFF;
    device->write_pmbus_cmd(cid1, cid2, &ff, 1);
  }
  void Feed(const std::string& bytes) {
    std::string copy = bytes;
    device->process(reinterpret_cast<unsigned char*>(&copy[0]),
                    static_cast<unsigned int>(copy.size()));
  }
  const zel::LineCounters& Counters() { return zel::Line(*device).counters; }
  size_t Resets() { return bench.controller->Journal(zel::Event::Kind::Reset).size(); }

  std::shared_ptr<CaptureLink> link;
  std::shared_ptr<Device> device;
  std::vector<std::string> trace;
};

TEST_F(LineTest, RequestsAreFramedWithTheDevicesVersionAndAddress) {
  const unsigned char one = 0x01;
  device->write_pmbus_cmd(0x46, 0x42, &one, 1);
  EXPECT_EQ(link->written, "~20014642E00201FD35\r");

  link->written.clear();
  device->protocolVersion_ = 0x21;
  device->address_ = 0x05;
  device->write_pmbus_cmd(0x42, 0x46);
  EXPECT_EQ(link->written, Frame(0x05, 0x42, 0x46, {}, 0x21));
  EXPECT_EQ(trace.back(), ">> " + link->written.substr(0, link->written.size() - 1));
  EXPECT_EQ(Counters().requests, 2u);
  const auto requests = bench.controller->Journal(zel::Event::Kind::Request);
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].cid1, 0x42);
  EXPECT_EQ(requests[1].cid2, 0x46);
}

TEST_F(LineTest, AGoodReplyIsDecodedIntoTheReplyRecord) {
  std::vector<uint8_t> info;
  for (int k = 0; k < 200; ++k) info.push_back(static_cast<uint8_t>(k * 3));
  const std::string good = Frame(0x01, 0x40, 0x00, info);

  struct Case {
    const char* what;
    std::vector<std::string> chunks;
  } cases[] = {
      {"one chunk", {good}},
      {"junk and a broken start first", {"\x01\x7Fjunk~2001", good}},
      {"split in three", {good.substr(0, 5), good.substr(5, 300), good.substr(305)}},
  };
  for (const Case& c : cases) {
    device->replies.clear();
    Request();
    for (const std::string& chunk : c.chunks) Feed(chunk);
    ASSERT_EQ(device->replies.size(), 1u) << c.what;
    EXPECT_EQ(device->replies[0].cid1, 0x40) << c.what;
    EXPECT_EQ(device->replies[0].rtn, 0x00) << c.what;
    EXPECT_EQ(device->replies[0].length, 400u) << c.what;  // twice the INFO bytes
    EXPECT_EQ(device->replies[0].info, info) << c.what;
  }
  // Byte by byte, with a different command group: handed on for the device to judge.
  device->replies.clear();
  Request();
  for (char b : Frame(0x01, 0x42, 0x00, {0xAB})) Feed(std::string(1, b));
  ASSERT_EQ(device->replies.size(), 1u);
  EXPECT_EQ(device->replies[0].cid1, 0x42);
  // Blank fill, as a power system sent it (public capture): each pair of blanks reaches the
  // device as 20, a float of them as the not-available marker.
  device->replies.clear();
  Request();
  Feed(
      "~20014000A0600002B91EC343FCA3C34318DCC243E2E6474200DB42853FDB42053F79AEB13E        "
      "00CB96D142                EA9D\r");
  ASSERT_EQ(device->replies.size(), 1u);
  EXPECT_EQ(device->replies[0].length, 96u);
  EXPECT_EQ(std::vector<unsigned char>(device->replies[0].info.begin() + 30,
                                       device->replies[0].info.begin() + 36),
            (std::vector<unsigned char>{0x3E, 0x20, 0x20, 0x20, 0x20, 0x00}));
  EXPECT_EQ(Counters().Failures(), 0u);
  EXPECT_TRUE(Logs().empty());
}

TEST_F(LineTest, TheLargestReplyReachesTheDeviceWhole) {
  std::vector<uint8_t> info(framing::kMaxInfo);
  for (size_t k = 0; k < info.size(); ++k) info[k] = static_cast<uint8_t>(k * 5);
  Request();
  Feed(Frame(0x01, 0x40, 0x00, info));
  ASSERT_EQ(device->replies.size(), 1u);
  EXPECT_EQ(device->replies[0].length, 4094u);
  EXPECT_EQ(device->replies[0].info, info);
  EXPECT_EQ(Counters().Failures(), 0u);
}

TEST_F(LineTest, DroppedRepliesGoToTheErrorPath) {
  const std::string good = Frame(0x01, 0x40, 0x00, {0x01});
  std::string badSum = good;
  badSum[badSum.size() - 2] = badSum[badSum.size() - 2] == '0' ? '1' : '0';
  std::string lower = good;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));

  struct Case {
    const char* what;
    std::string bytes;
    Drop drop;
    std::string log;
    std::string trace;
  } cases[] = {
      {"another address", Frame(0x05, 0x40, 0x00, {0x01}), Drop::WrongAddress,
       "zelhost: reply to 40 41 dropped: ADR 05 does not echo 01", "dropped: ADR 05"},
      {"non-zero RTN", Frame(0x01, 0x40, 0x04, {}), Drop::ErrorReturn,
       "zelhost: reply to 40 41 dropped: RTN 04", "dropped: RTN 04"},
      {"bad CHKSUM", badSum, Drop::BadChecksum, "zelhost: reply to 40 41 dropped: bad CHKSUM",
       "dropped: bad CHKSUM"},
      {"lowercase hex", lower, Drop::BadCharacter, "zelhost: reply to 40 41 dropped: bad character",
       "dropped: bad character"},
      {"cut short", "~2001400000\r", Drop::TooShort,
       "zelhost: reply to 40 41 dropped: frame too short", "dropped: frame too short"},
      {"LENID longer than INFO", "~20014000C00401FD35\r", Drop::LengthMismatch,
       "zelhost: reply to 40 41 dropped: LENID does not match INFO", "dropped: LENID"},
      {"blank in ADR", "~20 1" + good.substr(5), Drop::BlankOutsideInfo,
       "zelhost: reply to 40 41 dropped: blank outside INFO", "dropped: blank outside INFO"},
      {"single blank in INFO", good.substr(0, 14) + " " + good.substr(15), Drop::SingleBlank,
       "zelhost: reply to 40 41 dropped: single blank in INFO", "dropped: single blank in INFO"},
  };
  for (const Case& c : cases) {
    Fresh();  // the log shows the first failures of a line
    Request();
    Feed(c.bytes);
    EXPECT_TRUE(device->replies.empty()) << c.what;
    EXPECT_EQ(Counters()[c.drop], 1u) << c.what;
    EXPECT_EQ(device->outstanding_, 0) << c.what;  // process_error reset the device
    EXPECT_EQ(Resets(), 1u) << c.what;
    EXPECT_EQ(Logs(), std::vector<std::string>{c.log}) << c.what;
    EXPECT_NE(trace.back().find(c.trace), std::string::npos) << c.what << ": " << trace.back();
  }
}

TEST_F(LineTest, AMissingReplyRestartsAStalledParameterStep) {
  struct Case {
    uint32_t step;
    uint32_t after;
  } cases[] = {{3, 0}, {9, 0}, {5, 5}, {0, 0}};
  for (const Case& c : cases) {
    device->step_ = c.step;
    Request(0x42, 0x46);
    zel::ReplyMissing(*device);
    EXPECT_EQ(device->step_, c.after) << "step " << c.step;
    EXPECT_EQ(device->outstanding_, 0) << "step " << c.step;
  }
  EXPECT_EQ(Counters()[Drop::NoReply], 4u);
  EXPECT_EQ(trace.back(), "<< no reply to 42 46");

  // Nothing waits: nothing happens.
  zel::ReplyMissing(*device);
  EXPECT_EQ(Counters()[Drop::NoReply], 4u);
}

TEST_F(LineTest, AGapInsideAFrameDropsIt) {
  const std::string good = Frame(0x01, 0x40, 0x00, {0x01, 0x02});
  Request();
  Feed(good.substr(0, 9));
  zel::FrameGap(*device);
  EXPECT_EQ(Counters()[Drop::Gap], 1u);
  EXPECT_EQ(device->outstanding_, 0);
  // The rest of that frame, late, starts nothing; the next request's reply is taken whole.
  Feed(good.substr(9));
  Request();
  Feed(good);
  EXPECT_EQ(device->replies.size(), 1u);
  zel::FrameGap(*device);  // no frame started: nothing to drop
  EXPECT_EQ(Counters()[Drop::Gap], 1u);
}

TEST_F(LineTest, AFrameWithoutARequestIsCountedOnly) {
  Feed(Frame(0x01, 0x40, 0x00, {}));
  EXPECT_TRUE(device->replies.empty());
  EXPECT_EQ(Counters()[Drop::Unsolicited], 1u);
  EXPECT_EQ(Counters().Failures(), 0u);
  EXPECT_EQ(Resets(), 0u);
}

TEST_F(LineTest, CommunicationLostAndRestoredAreLoggedOncePerChange) {
  for (int k = 0; k < 6; ++k) {
    Request();
    zel::ReplyMissing(*device);
  }
  Request();
  Feed(Frame(0x01, 0x40, 0x00, {}));
  Request();
  Feed(Frame(0x01, 0x40, 0x00, {}));
  Request();
  zel::ReplyMissing(*device);
  const std::string none = "zelhost: no reply to 40 41";
  EXPECT_EQ(Logs(), (std::vector<std::string>{none, none, none, "zelhost: communication lost",
                                              "zelhost: communication restored", none}));
  EXPECT_EQ(Counters()[Drop::NoReply], 7u);
  EXPECT_EQ(Counters().replies, 2u);
}

TEST(LineTime, TenBitsAByte) {
  EXPECT_EQ(zel::LineTimeMs(20, 9600), 21u);  // 200 bits
  EXPECT_EQ(zel::LineTimeMs(960, 9600), 1000u);
  EXPECT_EQ(zel::LineTimeMs(20, 0), 0u);
}

}  // namespace
