// The commissioning scan on the virtual clock: the order of its tries, the worst case it states
// and the time it takes, its --baud and --address lists. The power systems are the
// simulator's, answering in process.
#include <gtest/gtest.h>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "Clock.h"
#include "Line.h"
#include "Responder.h"
#include "Scan.h"

namespace {

using zel::HostClock;
using zel::ScanLine;

const boost::posix_time::ptime kStart(boost::gregorian::date(2026, 1, 1));

void Advance(unsigned ms) {
  HostClock::Set(HostClock::Now() + boost::posix_time::milliseconds(ms));
}

uint64_t Elapsed(boost::posix_time::ptime since) {
  return static_cast<uint64_t>((HostClock::Now() - since).total_milliseconds());
}

// Buses by port name, each with the simulated power systems on it; every request takes its
// time on the virtual clock: the frames' line time, or the whole timeout when nothing answers.
class VirtualBus : public ScanLine {
 public:
  struct Try {
    std::string text;  // "A 9600 2 40_51"
    boost::posix_time::ptime at;
  };

  void Add(const std::string& port, const std::string& scenario) {
    buses_[port].emplace_back(sim::Scenario::Parse(scenario, port));
  }
  void AddEmpty(const std::string& port) { buses_[port]; }

  std::string Open(const std::string& port, unsigned baud) override {
    if (buses_.count(port) == 0) return "No such file or directory";
    port_ = port;
    baud_ = baud;
    return "";
  }
  void Close() override {}
  Heard Exchange(const framing::Frame& request, unsigned timeoutMs) override {
    char cmd[8];
    std::snprintf(cmd, sizeof cmd, "%02X_%02X", request.cid1, request.cid2);
    tries.push_back(
        {port_ + " " + std::to_string(baud_) + " " + std::to_string(request.adr) + " " + cmd,
         HostClock::Now()});
    const std::string wire = framing::Encode(request);
    std::string reply;
    for (sim::Responder& r : buses_[port_])
      for (const sim::Output& o :
           r.Feed(reinterpret_cast<const uint8_t*>(wire.data()), wire.size(), baud_))
        for (const std::string& piece : o.pieces) reply += piece;
    Heard heard;
    framing::Receiver rx;
    for (char c : reply) {
      const auto status = rx.Feed(static_cast<uint8_t>(c));
      if (status == framing::Receiver::Status::Frame) {
        heard.kind = Heard::Kind::Frame;
        heard.frame = rx.frame();
        break;
      }
      if (status == framing::Receiver::Status::Fault) {
        heard.kind = Heard::Kind::Fault;
        heard.fault = rx.fault();
        break;
      }
    }
    Advance(heard.kind == Heard::Kind::Nothing
                ? timeoutMs
                : zel::LineTimeMs(wire.size() + reply.size(), baud_));
    return heard;
  }
  void Pause(unsigned ms) override { Advance(ms); }

  std::vector<Try> tries;

 private:
  std::map<std::string, std::vector<sim::Responder>> buses_;
  std::string port_;
  unsigned baud_ = 0;
};

std::string Site(unsigned baud, unsigned address) {
  return "{\"baud\": " + std::to_string(baud) + ", \"address\": " + std::to_string(address) +
         ", \"model\": \"RVT2600\", \"ac\": [{\"channels\": [{}]}], \"rc\": {\"modules\": "
         "[{}, {}]}, \"dc\": [{\"fuses\": 64}]}";
}

std::vector<std::string> Texts(const std::vector<VirtualBus::Try>& tries) {
  std::vector<std::string> out;
  for (const auto& t : tries) out.push_back(t.text);
  return out;
}

const std::vector<std::string> kReadRound = {"40_41", "40_43", "40_44", "41_41", "41_43",
                                             "41_44", "42_41", "42_44", "40_46", "42_46"};

class ScanTest : public ::testing::Test {
 protected:
  void SetUp() override { HostClock::UseVirtual(kStart); }
  void TearDown() override { HostClock::UseWallClock(); }

  zel::ScanResult Run(const std::vector<std::string>& ports, const std::vector<unsigned>& bauds,
                      const std::vector<unsigned>& addresses, bool first = false) {
    zel::Scanner scanner(bus, progress, [] { return false; });
    return scanner.Run(ports, bauds, addresses, first);
  }

  VirtualBus bus;
  std::ostringstream progress;
};

// Port by port, speed by speed, address by address; the speed a port answers at is scanned to
// its last address and is the port's last; then one round of read requests for what answered.
// A power system at another speed is heard as noise and said so. A port with nothing on it
// takes exactly the worst case stated for it.
TEST_F(ScanTest, TriesInOrderAndTheWorstCaseOfAnEmptyPort) {
  bus.Add("A", Site(19200, 2));
  bus.AddEmpty("B");
  const std::vector<unsigned> bauds = {9600, 19200};
  const zel::ScanResult result = Run({"A", "B"}, bauds, {1, 2, 3});

  std::vector<std::string> expected;
  for (unsigned baud : bauds)
    for (const char* a : {"1", "2", "3"})
      expected.push_back("A " + std::to_string(baud) + " " + a + " 40_51");
  for (const std::string& cmd : kReadRound) expected.push_back("A 19200 2 " + cmd);
  for (unsigned baud : bauds)
    for (const char* a : {"1", "2", "3"})
      expected.push_back("B " + std::to_string(baud) + " " + a + " 40_51");
  EXPECT_EQ(Texts(bus.tries), expected);

  ASSERT_EQ(result.systems.size(), 1u);
  EXPECT_EQ(result.systems[0].port, "A");
  EXPECT_EQ(result.systems[0].baud, 19200u);
  EXPECT_EQ(result.systems[0].address, 2u);
  EXPECT_EQ(result.systems[0].model, "RVT2600");
  EXPECT_EQ(result.systems[0].acChannels, std::vector<unsigned>{1});
  EXPECT_EQ(result.systems[0].modules, 2u);
  EXPECT_EQ(result.systems[0].dcUnits, 1u);
  EXPECT_TRUE(result.systems[0].problems.empty());
  EXPECT_TRUE(result.systems[0].Differences().empty());

  const std::string text = progress.str();
  const uint64_t perPort = zel::PortWorstCaseMs(bauds, 3);
  EXPECT_NE(text.find("at most " + zel::DurationText(2 * perPort) + " when nothing answers"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("A at 9600 baud, address 2: a reply with bad CHKSUM: something answers at "
                      "another speed"),
            std::string::npos)
      << text;
  // What is left when B starts is B's worst case, and B takes all of it.
  EXPECT_NE(
      text.find("B at 9600 baud, addresses 1-3: at most " + zel::DurationText(perPort) + " left"),
      std::string::npos)
      << text;
  const auto firstOfB = bus.tries[bus.tries.size() - 6].at;
  EXPECT_EQ(Elapsed(firstOfB), perPort);
}

// Five speeds by 254 addresses: the worst case is stated before the first try, and a port
// with nothing on it takes exactly that long.
TEST_F(ScanTest, DefaultRangeOnAnEmptyPort) {
  bus.AddEmpty("A");
  const zel::ScanResult result = Run({"A"}, zel::DefaultScanBauds(), zel::ParseAddresses("1-254"));
  EXPECT_TRUE(result.systems.empty());
  EXPECT_EQ(bus.tries.size(), 5u * 254u);
  EXPECT_EQ(Elapsed(kStart), 465074u);
  const std::string text = progress.str();
  EXPECT_EQ(text.rfind("scan: 1 port, 5 speeds x 254 addresses, at most 7 min 46 s when nothing "
                       "answers\n",
                       0),
            0u)
      << text;
  // The speeds in their order, each stated as it starts, with what is left.
  size_t at = 0;
  for (const char* speed : {"9600", "19200", "4800", "2400", "1200"}) {
    at = text.find(std::string("A at ") + speed + " baud, addresses 1-254: at most ", at);
    ASSERT_NE(at, std::string::npos) << speed << "\n" << text;
  }
}

// --first: the first power system found ends the scan.
TEST_F(ScanTest, FirstStopsAtTheFirstFound) {
  bus.Add("A", Site(9600, 1));
  bus.Add("A", Site(9600, 3));
  bus.Add("B", Site(9600, 1));
  const zel::ScanResult result = Run({"A", "B"}, {9600}, {1, 2, 3}, true);
  std::vector<std::string> expected = {"A 9600 1 40_51"};
  for (const std::string& cmd : kReadRound) expected.push_back("A 9600 1 " + cmd);
  EXPECT_EQ(Texts(bus.tries), expected);
  EXPECT_EQ(result.systems.size(), 1u);
}

// A missing port is one line, and the scan goes on with the next.
TEST_F(ScanTest, MissingPortIsOneLine) {
  bus.Add("B", Site(9600, 2));
  const zel::ScanResult result = Run({"gone", "B"}, {9600}, {2});
  EXPECT_EQ(result.systems.size(), 1u);
  EXPECT_NE(progress.str().find("gone: No such file or directory\nB at 9600 baud"),
            std::string::npos)
      << progress.str();
}

TEST(ScanOptions, AddressesAndSpeeds) {
  const struct {
    const char* text;
    std::vector<unsigned> addresses;  // empty: a usage error
  } cases[] = {
      {"7", {7}},
      {"1-3,12", {1, 2, 3, 12}},
      {"12,1-2", {12, 1, 2}},
      {"1-3,2", {1, 2, 3}},
      {"254", {254}},
      {"0", {}},
      {"255", {}},
      {"5-3", {}},
      {"a", {}},
      {"", {}},
      {"1-", {}},
      {"1,,2", {}},
      {"1-300", {}},
      {"-3", {}},
  };
  for (const auto& c : cases) {
    if (c.addresses.empty()) {
      EXPECT_THROW(zel::ParseAddresses(c.text), zel::UsageError) << c.text;
    } else {
      EXPECT_EQ(zel::ParseAddresses(c.text), c.addresses) << c.text;
    }
  }
  EXPECT_EQ(zel::ParseAddresses("1-254").size(), 254u);
  EXPECT_EQ(zel::AddressText({1, 2, 3, 12, 14, 15}), "1-3,12,14-15");

  EXPECT_EQ(zel::ParseBauds("19200,9600,19200"), (std::vector<unsigned>{19200, 9600}));
  for (const char* bad : {"1234", "", "9600,", "fast"})
    EXPECT_THROW(zel::ParseBauds(bad), zel::UsageError) << bad;
}

}  // namespace
