// The simulator on its own: reply bytes, fault injection, scenario changes, the pty line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "Encoder.h"
#include "Frame.h"
#include "LineServer.h"
#include "Responder.h"
#include "Scenario.h"

namespace {

using framing::Frame;
using framing::Receiver;

std::string Hex(const std::vector<uint8_t>& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (uint8_t b : bytes) {
    out.push_back(digits[b >> 4]);
    out.push_back(digits[b & 0xF]);
  }
  return out;
}

// Hand-written rows below, with spaces between fields for the reader.
std::string Packed(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), ' '), text.end());
  return text;
}

// One unit of each kind with every field set to something that shows where it lands.
const char* const kSmallSite = R"({
  "model": "rvt2600",
  "ac": [{"channels": [{"a": 1.0, "b": 2.0, "c": "na", "f": 50.0, "alerts": [0, 1, 2, 3],
                        "user_alerts": [9, 0, 0, 0, 0, 0, 0, 8]}],
          "ia": 0.5, "ib": -2.0, "ic": "na:FF", "alerts": [1, 0, 3], "switches": [1, 2, 3]}],
  "rc": {"group": 53.5, "modules": [{"analog": 20.0, "user_values": [1.0, 0, 0, 0],
                                     "states": [1, 0, 2], "user_states": [7], "fault": 1,
                                     "user_alarms": [0, 0, 0, 4]}]},
  "dc": [{"v": 53.5, "i": 100.0, "m": [1.0], "p": ["na"], "v_state": 2, "fuses": [0, 3],
          "user_alarms": [5]}],
  "ac_param": [1.0], "dc_param": [2.0, 0.5], "dc_user_param": [1.0]
})";

// Four DC units: the unit count then stands in the first byte of the first unit's voltage.
const char* const kFourDc = R"({
  "dc": [{"v": 1.0, "fuses": 0}, {"v": 1.0, "fuses": 0}, {"v": 1.0, "fuses": 0},
         {"v": 1.0, "fuses": 0}]
})";

TEST(SimEncoder, RepliesMatchHandWrittenBytes) {
  const sim::Flags flags{0x11, 0x10, 0x01};
  struct Row {
    uint16_t command;
    const char* site;
    const char* info;
  } rows[] = {
      // model field, blank-filled to 20 bytes
      {sim::kModel, kSmallSite, "72 76 74 32 36 30 30 20202020202020202020202020"},
      // FL UC N  a        b        c        f        p  ia       ib       ic
      {sim::kAcAnalog, kSmallSite,
       "11 01 01 0000803F 00000040 20202020 00004842 00 0000003F 000000C0 FFFFFFFF"},
      // FL UC m  p  s1 s2 s3
      {sim::kAcSwitch, kSmallSite, "11 01 00 03 01 02 03"},
      // FL UC N  a  b  c  f  m  p  user alarm states    ia ib ic
      {sim::kAcAlarm, kSmallSite, "11 01 01 00 01 02 03 00 08 0900000000000008 01 00 03"},
      // FL group    n  analog   p  user values (4)
      {sim::kRcAnalog, kSmallSite, "10 00005642 01 0000A041 04 0000803F000000000000000000000000"},
      // FL n  states   p  us
      {sim::kRcSwitch, kSmallSite, "10 01 010002 01 07"},
      // FL n  ft p  user alarms
      {sim::kRcAlarm, kSmallSite, "10 01 01 04 00000004"},
      // FL UC v        i        m  m1       n  p  p1
      {sim::kDcAnalog, kSmallSite, "01 01 00005642 0000C842 01 0000803F 00 01 20202020"},
      // FL UC vs a  fuses q  user alarms
      {sim::kDcAlarm, kSmallSite, "01 01 02 02 0003 01 05"},
      // five values (no leading byte)                   m
      {sim::kAcParam, kSmallSite, "0000803F 00000000 00000000 00000000 00000000 00"},
      // two values        p  values
      {sim::kDcParam, kSmallSite, "00000040 0000003F 01 0000803F"},
      // FL |UC=v[0]  v rest | i       m  n  p  | then three more units, each 11 bytes
      {sim::kDcAnalog, kFourDc,
       "01 04 00803F 00000000 00 00 00  0000803F 00000000 000000  0000803F 00000000 000000"
       "  0000803F 00000000 000000"},
  };
  for (const Row& row : rows) {
    const sim::Scenario scenario = sim::Scenario::Parse(row.site, "test site");
    sim::Info info;
    ASSERT_TRUE(sim::EncodeInfo(scenario.SiteAt(1), row.command, flags, info));
    EXPECT_EQ(Hex(info.bytes), Packed(row.info)) << sim::StepName(row.command);
  }
  sim::Info info;
  EXPECT_FALSE(sim::EncodeInfo(sim::Scenario::Default().SiteAt(1), 0x4099, flags, info));
}

// Feeds whole frames to a responder and decodes what it writes back.
class Line {
 public:
  explicit Line(const std::string& scenarioText)
      : responder_(sim::Scenario::Parse(scenarioText, "test scenario")) {}

  // The reply to (cid1, cid2) as written: its pieces, and their pause.
  sim::Output Ask(uint8_t cid1, uint8_t cid2) {
    Frame request;
    request.cid1 = cid1;
    request.cid2 = cid2;
    const std::string bytes = framing::Encode(request);
    auto out = responder_.Feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    EXPECT_EQ(out.size(), 1u);
    return out.empty() ? sim::Output{} : out.front();
  }

  // What a receiver makes of the reply.
  Receiver::Status Decode(const sim::Output& out, Frame& frame) {
    Receiver r;
    Receiver::Status s = Receiver::Status::Incomplete;
    for (const std::string& piece : out.pieces)
      for (char c : piece) s = r.Feed(static_cast<uint8_t>(c));
    frame = r.frame();
    fault_ = r.fault();
    return s;
  }
  framing::Fault fault() const { return fault_; }

  sim::Responder& responder() { return responder_; }

 private:
  sim::Responder responder_;
  framing::Fault fault_ = framing::Fault::None;
};

std::string WithFault(const std::string& fault) {
  return std::string(R"({"ac": [{"channels": [{"a": 230.0}]}], "faults": [)") + fault + "]}";
}

// Values not available go on the line as blank fill where the value or the site says so: eight
// blanks in place of the hex digits, counted in LENGTH and summed in CHKSUM as sent, read by the
// master as 20 20 20 20. Other markers and raw values stay hex digits.
TEST(SimLine, BlankFillPerValueAndPerSite) {
  const std::string site =
      R"("ac": [{"channels": [{"a": "na:blank", "b": 2.0, "c": "na", "f": "na:FF"}],
                                      "ia": "na", "ib": 1.0, "ic": "raw:20202020"}])";
  struct Case {
    const char* what;
    std::string scenario;
    const char* info;  // as written on the line, '.' for a blank
  } cases[] = {
      // FL UC N  a        b        c        f        p  ia       ib       ic
      {"per value", "{" + site + "}",
       "11 01 01 ........ 00000040 20202020 FFFFFFFF 00 20202020 0000803F 20202020"},
      {"per site", R"({"blank_fill": true, )" + site + "}",
       "11 01 01 ........ 00000040 ........ FFFFFFFF 00 ........ 0000803F 20202020"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Line line(c.scenario);
    line.Ask(0x40, 0x51);
    const sim::Output out = line.Ask(0x40, 0x41);
    std::string wire;
    for (const std::string& piece : out.pieces) wire += piece;
    std::string info = Packed(c.info);
    std::replace(info.begin(), info.end(), '.', ' ');
    ASSERT_GT(wire.size(), 13 + info.size());
    EXPECT_EQ(wire.substr(13, info.size()), info);
    Frame f;
    ASSERT_EQ(line.Decode(out, f), Receiver::Status::Frame) << framing::FaultText(line.fault());
    std::string bytes = Packed(c.info);
    for (size_t k = 0; k < bytes.size(); ++k)
      if (bytes[k] == '.') bytes.replace(k, 8, "20202020");
    EXPECT_EQ(Hex(f.info), bytes);
  }
}

// A unit's count changed from a round on through the scenario's changes: a module pulled out in
// round 3 and put back in round 5. The automatic change flags ask for the state replies of the
// round in which the count changes.
TEST(SimScenario, ChangesSetAModuleCountFromARound) {
  Line line(R"({"rc": {"modules": [{"analog": 1}, {"analog": 2}, {"analog": 3}, {"analog": 4}]},
                "changes": [{"round": 3, "set": {"rc/modules": [{"analog": 1}, {"analog": 2},
                                                                {"analog": 4}]}},
                            {"round": 5, "set": {"rc/modules": [{"analog": 1}, {"analog": 2},
                                                                {"analog": 3}, {"analog": 4}]}}]})");
  struct Round {
    uint8_t modules;
    uint8_t flags;
  } rounds[] = {{4, 0x11}, {4, 0x00}, {3, 0x11}, {3, 0x00}, {4, 0x11}, {4, 0x00}};
  for (const Round& r : rounds) {
    SCOPED_TRACE(&r - rounds + 1);
    Frame analog, switches, alarms;
    ASSERT_EQ(line.Decode(line.Ask(0x41, 0x41), analog), Receiver::Status::Frame);
    ASSERT_EQ(line.Decode(line.Ask(0x41, 0x43), switches), Receiver::Status::Frame);
    ASSERT_EQ(line.Decode(line.Ask(0x41, 0x44), alarms), Receiver::Status::Frame);
    EXPECT_EQ(line.responder().Round(), static_cast<unsigned>(&r - rounds + 1));
    // FL group(4) n | FL n | FL n
    EXPECT_EQ(analog.info[0], r.flags);
    EXPECT_EQ(analog.info[5], r.modules);
    EXPECT_EQ(analog.info.size(), 6u + 21 * r.modules);
    EXPECT_EQ(switches.info[1], r.modules);
    EXPECT_EQ(alarms.info[1], r.modules);
  }
}

TEST(SimFaults, EachKindDoesTheDamageItClaimsOnceThenTheRetryIsSound) {
  Line healthyLine(WithFault(""));
  healthyLine.Ask(0x40, 0x51);
  Frame healthy;
  ASSERT_EQ(healthyLine.Decode(healthyLine.Ask(0x40, 0x41), healthy), Receiver::Status::Frame);

  using Check = std::function<void(Line&, const sim::Output&)>;
  auto frameFault = [](framing::Fault expected) -> Check {
    return [expected](Line& line, const sim::Output& out) {
      Frame f;
      EXPECT_EQ(line.Decode(out, f), Receiver::Status::Fault);
      EXPECT_EQ(line.fault(), expected);
    };
  };
  // A sound frame whose fields differ from the healthy reply as fn says.
  auto frameWith = [&](std::function<void(Frame&)> fn) -> Check {
    return [&healthy, fn](Line& line, const sim::Output& out) {
      Frame f;
      ASSERT_EQ(line.Decode(out, f), Receiver::Status::Frame);
      Frame expected = healthy;
      fn(expected);
      EXPECT_EQ(f, expected);
    };
  };
  struct Case {
    const char* fault;
    Check check;
  } cases[] = {
      {R"({"round": 1, "step": "40_41", "kind": "bad_checksum"})",
       frameFault(framing::Fault::BadChecksum)},
      {R"({"round": 1, "step": "40_41", "kind": "flip", "at": 1, "mask": 1})",
       frameFault(framing::Fault::BadChecksum)},
      {R"({"round": 1, "step": "40_41", "kind": "flip", "at": 5, "mask": 64})",
       frameFault(framing::Fault::BadCharacter)},
      {R"({"round": 1, "step": "40_41", "kind": "drop", "bytes": 2})",
       frameFault(framing::Fault::LengthMismatch)},
      {R"({"round": 1, "step": "40_41", "kind": "silence"})",
       [](Line&, const sim::Output& out) { EXPECT_TRUE(out.pieces.empty()); }},
      {R"({"round": 1, "step": "40_41", "kind": "count", "field": "units", "value": 2})",
       frameWith([](Frame& f) { f.info[1] = 2; })},
      {R"({"round": 1, "step": "40_41", "kind": "count", "field": "ac/0/channels/0/p", "value": 2})",
       frameWith([](Frame& f) { f.info[2 + 1 + 16] = 2; })},
      {R"({"round": 1, "step": "40_41", "kind": "cut", "bytes": 3})",
       frameWith([](Frame& f) { f.info.resize(f.info.size() - 3); })},
      {R"({"round": 1, "step": "40_41", "kind": "rtn", "value": 2})",
       frameWith([](Frame& f) { f.cid2 = 2; })},
      {R"({"round": 1, "step": "40_41", "kind": "cid1", "value": 66})",
       frameWith([](Frame& f) { f.cid1 = 0x42; })},
      {R"({"round": 1, "step": "40_41", "kind": "adr", "value": 5})",
       frameWith([](Frame& f) { f.adr = 5; })},
      {R"({"round": 1, "step": "40_41", "kind": "chunks", "size": 4, "delay_ms": 2})",
       [&](Line& line, const sim::Output& out) {
         ASSERT_GT(out.pieces.size(), 1u);
         for (const std::string& piece : out.pieces) EXPECT_LE(piece.size(), 4u);
         EXPECT_EQ(out.delayMs, 2u);
         frameWith([](Frame&) {})(line, out);
       }},
      {R"({"round": 1, "step": "40_41", "kind": "hold", "delay_ms": 150})",
       [&](Line& line, const sim::Output& out) {
         EXPECT_EQ(out.holdMs, 150u);
         frameWith([](Frame&) {})(line, out);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    Line line(WithFault(c.fault));
    line.Ask(0x40, 0x51);
    c.check(line, line.Ask(0x40, 0x41));
    // The same request again is a retry in the same round: the fault is spent.
    Frame retry;
    EXPECT_EQ(line.Decode(line.Ask(0x40, 0x41), retry), Receiver::Status::Frame);
    EXPECT_EQ(retry, healthy);
    EXPECT_EQ(line.responder().Round(), 1u);
  }
}

TEST(SimFaults, TimesAndRoundChooseWhichRepliesAreHit) {
  // Every reply of round 2 to 41_41 is silent; round 3 answers again.
  Line line(R"({"rc": {"modules": [{}]},
                "faults": [{"round": 2, "step": "41_41", "kind": "silence", "times": 0}]})");
  EXPECT_FALSE(line.Ask(0x41, 0x41).pieces.empty());
  EXPECT_FALSE(line.Ask(0x41, 0x43).pieces.empty());
  for (int k = 0; k < 3; ++k) EXPECT_TRUE(line.Ask(0x41, 0x41).pieces.empty()) << k;
  EXPECT_EQ(line.responder().Round(), 2u);
  EXPECT_FALSE(line.Ask(0x42, 0x41).pieces.empty());
  EXPECT_FALSE(line.Ask(0x41, 0x41).pieces.empty());
  EXPECT_EQ(line.responder().Round(), 3u);
}

TEST(SimScenario, DefaultFuseAlarmComesAndGoesWithItsChangeFlag) {
  sim::Responder responder(sim::Scenario::Default());
  auto info = [&](uint8_t cid1, uint8_t cid2) {
    Frame request;
    request.cid1 = cid1;
    request.cid2 = cid2;
    const auto out = responder.Answer(request);
    Receiver r;
    for (const auto& piece : out.pieces)
      for (char c : piece) r.Feed(static_cast<uint8_t>(c));
    return r.frame().info;
  };
  // Round by round: the DC change flag, and fuse 5 (FL UC vs a, then the fuses from INFO[4]).
  struct Expect {
    uint8_t flags;
    uint8_t fuse5;
  } rounds[] = {{0x01, 0}, {0x01, 3}, {0x00, 3}, {0x01, 0}, {0x00, 0}};
  for (unsigned r = 0; r < 5; ++r) {
    SCOPED_TRACE(r + 1);
    const auto analog = info(0x42, 0x41);
    EXPECT_EQ(responder.Round(), r + 1);
    EXPECT_EQ(analog[0], rounds[r].flags);
    EXPECT_EQ(info(0x42, 0x44)[2 + 2 + 4], rounds[r].fuse5);
  }
}

TEST(SimScenario, ErrorsNameWhereTheFileIsWrong) {
  struct Case {
    const char* text;
    const char* says;
  } cases[] = {
      {R"({"ac": [{"chanels": []}]})", "ac/0/chanels: unknown key"},
      {R"({"dc": [{"v": "high"}]})", "dc/0/v: expected a number"},
      {R"({"ac": [{"alerts": [0, 0, 256]}]})", "ac/0/alerts/2: expected a byte"},
      {R"({"dc": [{"fuses": 4, "fuse_faults": [5]}]})", "dc/0/fuse_faults/0"},
      {R"({"faults": [{"step": "40_47", "kind": "silence"}]})", "faults/0/step: unknown step"},
      {R"({"faults": [{"step": "40_41", "kind": "count", "field": "ac/3/m", "value": 1}]})",
       "has no count \"ac/3/m\""},
      {R"({"changes": [{"round": 2, "set": {"dc/0/v": "x"}}]})", "changes/0: dc/0/v"},
      {R"({"model": "a model name of more than twenty bytes"})", "model: longer than 20"},
      {R"({"baud": 0})", "baud: expected a line speed"},
  };
  for (const Case& c : cases) {
    try {
      sim::Scenario::Parse(c.text, "bad.json");
      ADD_FAILURE() << c.text << " was accepted";
    } catch (const sim::ScenarioError& e) {
      EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
      EXPECT_EQ(std::string(e.what()).rfind("bad.json: ", 0), 0u) << e.what();
    }
  }
}

// Reads from fd until a CR or the time is up (only the frame's own time, in practice).
std::string ReadFrame(int fd) {
  std::string out;
  while (out.empty() || out.back() != '\r') {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 5000) <= 0) break;
    char buf[256];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

TEST(SimLine, PtyEndIsRawAndOutlivesItsClients) {
  sim::LineServer server(sim::Scenario::Default());
  server.OpenPty();
  server.Start();
  Frame model;
  model.cid1 = 0x40;
  model.cid2 = 0x51;
  const std::string request = framing::Encode(model);
  // Two clients one after the other, neither touching the line settings.
  for (int client = 0; client < 2; ++client) {
    const int fd = ::open(server.Path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, request.data(), request.size()), static_cast<ssize_t>(request.size()));
    const std::string reply = ReadFrame(fd);
    Receiver r;
    Receiver::Status s = Receiver::Status::Incomplete;
    for (char c : reply) s = r.Feed(static_cast<uint8_t>(c));
    ASSERT_EQ(s, Receiver::Status::Frame) << reply;
    EXPECT_EQ(r.frame().cid1, 0x40);
    ::close(fd);
  }
  // No echo: the server saw the two requests and none of its own replies.
  EXPECT_EQ(server.Requests(), 2u);
  server.Stop();
}

// Two power systems on one bus, one set to 19200 baud: it answers at the speed the client set
// on its end of the pty, and is heard as noise at another; the other answers at any speed.
TEST(SimLine, AnswersAtItsSpeedAndOnlyItsAddressOnASharedBus) {
  std::vector<sim::Scenario> sites;
  sites.push_back(sim::Scenario::Parse(R"({"address": 3, "baud": 19200})", "at 19200"));
  sites.push_back(sim::Scenario::Parse(R"({"address": 5})", "any speed"));
  sim::LineServer server(std::move(sites));
  server.OpenPty();
  server.Start();
  const int fd = ::open(server.Path().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  const struct {
    speed_t speed;
    uint8_t address;
    Receiver::Status heard;
  } cases[] = {
      {B9600, 3, Receiver::Status::Fault},       {B9600, 5, Receiver::Status::Frame},
      {B19200, 3, Receiver::Status::Frame},      {B19200, 5, Receiver::Status::Frame},
      {B19200, 4, Receiver::Status::Incomplete},
  };
  for (const auto& c : cases) {
    termios t{};
    ASSERT_EQ(tcgetattr(fd, &t), 0);
    cfmakeraw(&t);
    cfsetispeed(&t, c.speed);
    cfsetospeed(&t, c.speed);
    ASSERT_EQ(tcsetattr(fd, TCSANOW, &t), 0);
    Frame model;
    model.adr = c.address;
    model.cid1 = 0x40;
    model.cid2 = 0x51;
    const std::string request = framing::Encode(model);
    ASSERT_EQ(::write(fd, request.data(), request.size()), static_cast<ssize_t>(request.size()));
    // Nobody at address 4: a short wait, since nothing comes.
    std::string reply;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, c.heard == Receiver::Status::Incomplete ? 300 : 5000) > 0)
      reply = ReadFrame(fd);
    Receiver r;
    Receiver::Status s = Receiver::Status::Incomplete;
    for (char ch : reply) s = r.Feed(static_cast<uint8_t>(ch));
    EXPECT_EQ(s, c.heard) << unsigned{c.address} << " " << reply;
    if (s == Receiver::Status::Fault) {
      EXPECT_EQ(r.fault(), framing::Fault::BadChecksum);
    }
    if (s == Receiver::Status::Frame) {
      EXPECT_EQ(r.frame().adr, c.address);
    }
  }
  ::close(fd);
  server.Stop();

  std::vector<sim::Scenario> twice;
  twice.push_back(sim::Scenario::Parse(R"({"address": 3})", "one"));
  twice.push_back(sim::Scenario::Parse(R"({"address": 3})", "two"));
  EXPECT_THROW(sim::LineServer{std::move(twice)}, sim::ScenarioError);
}

}  // namespace
