// The plugin against the simulator over a pty: the root device on the client end of the line,
// driven as the bench host drives it (requests framed and written, replies collected byte by
// byte, reply and gap timeouts), on the virtual clock.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <json/reader.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "HostTest.h"
#include "Line.h"
#include "LineServer.h"
#include "Link.h"
#include "Providers.h"

namespace {

// The client's end of the pty, opened as a serial port is.
class PtyLink : public ZelLink {
 public:
  explicit PtyLink(std::string path) : path_(std::move(path)) {}
  ~PtyLink() override { Close(); }

  bool Open() override {
    fd_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios t{};
    if (fd_ >= 0 && tcgetattr(fd_, &t) == 0) {
      cfmakeraw(&t);
      tcsetattr(fd_, TCSANOW, &t);
    }
    return fd_ >= 0;
  }
  void Close() override {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  bool IsOpen() const override { return fd_ >= 0; }
  void Write(const unsigned char* data, unsigned int len) override {
    unsigned int done = 0;
    while (done < len) {
      const ssize_t n = ::write(fd_, data + done, len - done);
      if (n > 0) {
        done += static_cast<unsigned int>(n);
      } else {
        pollfd p{fd_, POLLOUT, 0};
        if (::poll(&p, 1, 1000) <= 0) return;
      }
    }
  }
  int fd() const { return fd_; }

 private:
  std::string path_;
  int fd_ = -1;
};

Json::Value ReadJson(const std::string& path) {
  std::ifstream in(path);
  Json::Value v;
  Json::CharReaderBuilder builder;
  std::string errors;
  EXPECT_TRUE(Json::parseFromStream(builder, in, &v, &errors)) << path << ": " << errors;
  return v;
}

// The default site with its own changes replaced by these, and these faults.
Json::Value DefaultSite(const std::string& changes = "[]", const std::string& faults = "[]") {
  Json::Value site = ReadJson(RVT_SCENARIO_DIR "/default.json");
  Json::CharReaderBuilder builder;
  std::string errors;
  std::istringstream c(changes), f(faults);
  EXPECT_TRUE(Json::parseFromStream(builder, c, &site["changes"], &errors)) << errors;
  EXPECT_TRUE(Json::parseFromStream(builder, f, &site["faults"], &errors)) << errors;
  return site;
}

sim::Scenario ScenarioOf(const Json::Value& site) {
  return sim::Scenario::Parse(site.toStyledString(), "test scenario");
}

float AsFloat(const Json::Value& v) {
  return static_cast<float>(v.asDouble());
}

constexpr unsigned kRoot = 100, kAc = 101, kDc = 102;

class SimEndToEnd : public rvt_test::VirtualClockTest {
 protected:
  void TearDown() override {
    Stop();
    VirtualClockTest::TearDown();
  }

  // The simulator on a pty, and a root device with one AC, one DC and the rectifier unit on
  // the other end; its images are saved in history.
  void Start(sim::Scenario scenario) {
    server = std::make_unique<sim::LineServer>(std::move(scenario));
    server->OpenPty();
    server->Start();
    StartRoot();
  }

  void StartRoot() {
    controller = std::make_shared<zel::Controller>(zel::Controller::Work::Inline, history);
    root.reset(RVT2600Provider().create());
    dev = dynamic_cast<PMBusProtocol*>(root.get());
    ASSERT_NE(dev, nullptr);
    Json::Value settings;
    settings["port"] = server->Path();
    settings["acSetting"][0]["data_id"] = kAc;
    settings["dcSetting"][0]["data_id"] = kDc;
    settings["rcSetting"] = Json::Value(Json::objectValue);
    settings["reply_timeout_ms"] = 50;
    settings["gap_ms"] = 20;
    ASSERT_TRUE(root->Init(controller, kRoot, settings));
    link = std::make_shared<PtyLink>(server->Path());
    root->AttachLink(link);
    ASSERT_TRUE(root->OpenPort());
  }

  void Stop() {
    if (root) root->ClosePort();
    root.reset();
    if (server) server->Stop();
  }

  // One turn of the host's loop while a request waits: bytes as they come, or the reply time
  // (the gap time inside a frame) running out.
  void Pump() {
    zel::LineState& line = zel::Line(*dev);
    const bool inFrame = line.receiver.InFrame();
    pollfd p{link->fd(), POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(inFrame ? dev->gapMs_ : dev->replyTimeoutMs_)) > 0) {
      unsigned char buf[256];
      const ssize_t n = ::read(link->fd(), buf, sizeof buf);
      if (n > 0) dev->process(buf, static_cast<unsigned int>(n));
      return;
    }
    if (inFrame) {
      zel::FrameGap(*dev);
    } else {
      zel::ReplyMissing(*dev);
    }
  }

  // Polls until `more` further rounds are complete; rounds are 2 s apart on the virtual clock.
  void RunRounds(uint64_t more) {
    const uint64_t target = zel::Line(*dev).rounds + more;
    for (int turn = 0; zel::Line(*dev).rounds < target; ++turn) {
      ASSERT_LT(turn, 500) << "round " << zel::Line(*dev).rounds + 1 << " does not complete";
      if (dev->outstanding_) {
        Pump();
      } else {
        Advance(2);
        root->RefreshStatus();
      }
    }
  }

  std::vector<zel::Event> Events(zel::Event::Kind kind) const { return controller->Journal(kind); }

  // Log lines of the plugin and the host's line faults.
  std::vector<std::string> LogLines() const {
    std::vector<std::string> out;
    for (const auto& e : Events(zel::Event::Kind::Log)) out.push_back(e.text);
    return out;
  }

  std::vector<std::pair<int, int>> Requests() const {
    std::vector<std::pair<int, int>> out;
    for (const auto& e : Events(zel::Event::Kind::Request)) out.emplace_back(e.cid1, e.cid2);
    return out;
  }

  // (device, rule id, sequence, text) of every active rule evaluated since the journal was
  // cleared, and how many rules each device handed over.
  std::vector<std::tuple<unsigned, std::string, unsigned, std::string>> ActiveRules(
      std::map<unsigned, size_t>* counts = nullptr) const {
    std::vector<std::tuple<unsigned, std::string, unsigned, std::string>> out;
    for (const auto& e : Events(zel::Event::Kind::Rules)) {
      if (counts != nullptr) (*counts)[e.device] += e.rules.size();
      for (const rule_value& r : e.rules)
        if (r.active) out.emplace_back(e.device, r.id, r.seq, r.text);
    }
    return out;
  }

  float Value(unsigned id, const std::string& name) const {
    return root->GetChildVDevice(id)->Get_Value(0, name);
  }

  // Every value the scenario gives the AC and DC units, read back through Get_Value.
  void ExpectScenarioValues(const Json::Value& site) const {
    const Json::Value& ac = site["ac"][0];
    EXPECT_EQ(Value(kAc, "ia"), AsFloat(ac["ia"]));
    EXPECT_EQ(Value(kAc, "ib"), AsFloat(ac["ib"]));
    EXPECT_EQ(Value(kAc, "ic"), AsFloat(ac["ic"]));
    for (Json::ArrayIndex k = 0; k < ac["channels"].size(); ++k)
      for (const char* f : {"a", "b", "c", "f"})
        EXPECT_EQ(Value(kAc, "channel_" + std::to_string(k) + "_" + f),
                  AsFloat(ac["channels"][k][f]))
            << "channel " << k << " " << f;
    EXPECT_EQ(Value(kDc, "v"), AsFloat(site["dc"][0]["v"]));
    EXPECT_EQ(Value(kDc, "i"), AsFloat(site["dc"][0]["i"]));
  }

  std::shared_ptr<zel::HistoryStore> history = std::make_shared<zel::MemoryHistory>();
  std::shared_ptr<zel::Controller> controller;
  std::unique_ptr<sim::LineServer> server;
  std::shared_ptr<PtyLink> link;
  std::shared_ptr<ZelSPDevice> root;
  PMBusProtocol* dev = nullptr;
};

using Request = std::pair<int, int>;

TEST_F(SimEndToEnd, DefaultSiteGivesItsValuesAndRulesRoundByRound) {
  const Json::Value site = ReadJson(RVT_SCENARIO_DIR "/default.json");
  ASSERT_NO_FATAL_FAILURE(Start(ScenarioOf(site)));
  const auto fuse5 =
      std::make_tuple(kDc, std::string("DC_3"), 7u, std::string("直流5电池熔丝故障告警"));
  struct Round {
    std::vector<Request> requests;
    std::vector<std::tuple<unsigned, std::string, unsigned, std::string>> active;
  } rounds[] = {
      // Not ready yet: the model query, then every request of the chain.
      {{{0x40, 0x51},
        {0x40, 0x41},
        {0x40, 0x43},
        {0x40, 0x44},
        {0x41, 0x41},
        {0x41, 0x43},
        {0x41, 0x44},
        {0x42, 0x41},
        {0x42, 0x44},
        {0x40, 0x46},
        {0x42, 0x46}},
       {}},
      // Fuse 5 fails: only the DC change flag asks for the DC alarm states.
      {{{0x40, 0x41}, {0x41, 0x41}, {0x42, 0x41}, {0x42, 0x44}, {0x40, 0x46}, {0x42, 0x46}},
       {fuse5}},
      // Nothing changed: analog and parameter requests only; the alarm stands.
      {{{0x40, 0x41}, {0x41, 0x41}, {0x42, 0x41}, {0x40, 0x46}, {0x42, 0x46}}, {fuse5}},
  };
  for (const Round& r : rounds) {
    SCOPED_TRACE(&r - rounds + 1);
    controller->ClearJournal();
    ASSERT_NO_FATAL_FAILURE(RunRounds(1));
    EXPECT_EQ(Requests(), r.requests);
    std::map<unsigned, size_t> counts;
    EXPECT_EQ(ActiveRules(&counts), r.active);
    // Three AC channels of 11 rules and 9 unit rules, six modules, two voltage and 64 fuse
    // rules (the rectifier carries the root's data id).
    EXPECT_EQ(counts, (std::map<unsigned, size_t>{{kAc, 42}, {kRoot, 6}, {kDc, 66}}));
    ExpectScenarioValues(site);
    EXPECT_EQ(LogLines(), std::vector<std::string>{});
  }
}

TEST_F(SimEndToEnd, AlarmRaisedInRoundTwoAndClearedInRoundFourGivesTwoEvents) {
  struct Case {
    const char* path;  // what fails in round 2 and is mended in round 4
    const char* fail;
    unsigned device;
    const char* id;
    unsigned seq;
    const char* text;
  } cases[] = {
      {"dc/0/fuse_faults", "[5]", kDc, "DC_3", 7, "直流5电池熔丝故障告警"},
      {"ac/0/channels/1/alerts/2", "3", kAc, "AC_10", 22, "交流屏2输入线/相电压CA/C"},
      {"ac/0/alerts/1", "2", kAc, "AC_16", 38, "其他告警"},
      {"rc/modules/3/fault", "1", kRoot, "RC_0", 4, "模块4整流模块故障告警"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    Json::Value fail, mend;
    Json::Reader().parse(c.fail, fail);
    mend = fail.isArray() ? Json::Value(Json::arrayValue) : Json::Value(0);
    Json::Value site = DefaultSite();
    site["changes"][0]["round"] = 2;
    site["changes"][0]["set"][c.path] = fail;
    site["changes"][1]["round"] = 4;
    site["changes"][1]["set"][c.path] = mend;
    ASSERT_NO_FATAL_FAILURE(Start(ScenarioOf(site)));
    ASSERT_NO_FATAL_FAILURE(RunRounds(5));
    const auto alarms = Events(zel::Event::Kind::Alarm);
    ASSERT_EQ(alarms.size(), 2u);
    for (size_t k = 0; k < 2; ++k) {
      EXPECT_EQ(alarms[k].device, c.device);
      EXPECT_EQ(alarms[k].id, c.id);
      EXPECT_EQ(alarms[k].seq, c.seq);
      EXPECT_EQ(alarms[k].text, c.text);
      EXPECT_EQ(alarms[k].raised, k == 0);
    }
    Stop();
  }
}

TEST_F(SimEndToEnd, EachFaultGivesItsLogLineAndTheRoundCompletesOnceItIsGone) {
  struct Case {
    const char* fault;  // in round 2
    const char* log;    // the first log line; "" for none at all
  } cases[] = {
      {R"({"step": "40_41", "kind": "count", "field": "units", "value": 2})",
       "PMBusPower:ProcotolError 100 read ac_number is 2, configured ac_number is 1"},
      {R"({"step": "42_41", "kind": "count", "field": "units", "value": 3})",
       "PMBusPower:ProcotolError 100 read dc_number is 3, configured dc_number is 1"},
      {R"({"step": "40_41", "kind": "count", "field": "ac/0/channels/0/p", "value": 2})",
       "PMBusPowerAC:ProcotolError 101 read 40_41 p is 2 not 0"},
      // A count of more modules than the reply holds: taken as a change, then too short.
      {R"({"step": "41_41", "kind": "count", "field": "rc/modules", "value": 7})",
       "PMBusPowerRC<TeleRC,TeleRCChannel,RT_RC>:ProcotolError 100 read 41_41 channel_count "
       "changed 6 -> 7"},
      {R"({"step": "42_41", "kind": "count", "field": "dc/0/p", "value": 4})",
       "PMBusPowerDC<TeleDC, RT_DC>:ProcotolError 102 read p_count is 4, support user_p max is 3"},
      {R"({"step": "40_46", "kind": "cut"})",
       "PMBusPowerAC:ProcotolError 100 read 40_46 read overflow 21 - 20"},
      {R"({"step": "41_41", "kind": "bad_checksum"})",
       "zelhost: reply to 41 41 dropped: bad CHKSUM"},
      {R"({"step": "42_41", "kind": "flip", "at": 1, "mask": 64})",
       "zelhost: reply to 42 41 dropped: bad character"},
      {R"({"step": "42_46", "kind": "drop", "bytes": 2})",
       "zelhost: reply to 42 46 dropped: LENID does not match INFO"},
      {R"({"step": "42_41", "kind": "silence"})", "zelhost: no reply to 42 41"},
      {R"({"step": "40_41", "kind": "rtn", "value": 2})",
       "zelhost: reply to 40 41 dropped: RTN 02"},
      {R"({"step": "41_41", "kind": "adr", "value": 5})",
       "zelhost: reply to 41 41 dropped: ADR 05 does not echo 01"},
      // The device does not take a reply of another command group: the host says so.
      {R"({"step": "42_41", "kind": "cid1", "value": 65})",
       "zelhost: reply to 42 41 not taken by the device, round waits"},
      {R"({"step": "40_41", "kind": "chunks", "size": 3, "delay_ms": 1})", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    Json::Value site = DefaultSite();
    Json::Reader().parse(c.fault, site["faults"][0]);
    site["faults"][0]["round"] = 2;
    ASSERT_NO_FATAL_FAILURE(Start(ScenarioOf(site)));
    ASSERT_NO_FATAL_FAILURE(RunRounds(3));
    const auto logs = LogLines();
    if (*c.log == '\0') {
      EXPECT_EQ(logs, std::vector<std::string>{});
    } else {
      ASSERT_FALSE(logs.empty());
      EXPECT_EQ(logs.front(), c.log);
    }
    ExpectScenarioValues(site);
    EXPECT_EQ(ActiveRules(),
              (std::vector<std::tuple<unsigned, std::string, unsigned, std::string>>{}));
    Stop();
  }
}

TEST_F(SimEndToEnd, NotAvailableMarkersReadAsTheirSubstitutes) {
  Json::Value site = DefaultSite();
  site["ac"][0]["ia"] = "na";
  site["ac"][0]["channels"][1]["f"] = "na:FF";
  ASSERT_NO_FATAL_FAILURE(Start(ScenarioOf(site)));
  ASSERT_NO_FATAL_FAILURE(RunRounds(1));
  EXPECT_EQ(Value(kAc, "ia"), -0.1f);
  EXPECT_EQ(Value(kAc, "channel_1_f"), 0.0f);
  EXPECT_EQ(Value(kAc, "ib"), AsFloat(site["ac"][0]["ib"]));
}

// A site as a real power system runs it: two values not available, written as blank fill, and
// a rectifier module pulled out in round 3 and put back in round 5 (module 6, in fault, moves
// up to place 5 meanwhile). Every round completes; each change of the count is logged once, in
// its round, and the image and the module rules follow the count.
TEST_F(SimEndToEnd, BlankFillAndAModulePulledOutAndPutBack) {
  Json::Value site = DefaultSite(R"([
    {"round": 3, "set": {"rc/modules": [{"analog": 19.8}, {"analog": 20.1}, {"analog": 20.0},
                                        {"analog": 20.3}, {"analog": 19.9, "fault": 1}]}},
    {"round": 5, "set": {"rc/modules": [{"analog": 19.8}, {"analog": 20.1}, {"analog": 20.0},
                                        {"analog": 19.6}, {"analog": 20.3},
                                        {"analog": 19.9, "fault": 1}]}}])");
  site["rc"]["modules"][5]["fault"] = 1;
  site["blank_fill"] = true;
  site["ac"][0]["ib"] = "na";                      // blank fill as the site writes it
  site["ac"][0]["channels"][1]["b"] = "na:blank";  // blank fill for this value
  ASSERT_NO_FATAL_FAILURE(Start(ScenarioOf(site)));
  const std::string changed =
      "PMBusPowerRC<TeleRC,TeleRCChannel,RT_RC>:ProcotolError 100 read 41_41 channel_count "
      "changed ";
  struct Round {
    size_t modules;
    std::vector<std::string> logs;
  } rounds[] = {{6, {}}, {6, {}}, {5, {changed + "6 -> 5"}}, {5, {}}, {6, {changed + "5 -> 6"}},
                {6, {}}};
  for (const Round& r : rounds) {
    SCOPED_TRACE(&r - rounds + 1);
    controller->ClearJournal();
    ASSERT_NO_FATAL_FAILURE(RunRounds(1));
    EXPECT_EQ(LogLines(), r.logs);
    EXPECT_EQ(zel::Line(*dev).counters.Failures(), 0u);

    std::vector<size_t> rcImages;
    for (const auto& e : Events(zel::Event::Kind::Publish))
      if (e.dataType == 5107) rcImages.push_back(e.bytes.size());
    EXPECT_EQ(rcImages, std::vector<size_t>{65 + 32 * r.modules});
    EXPECT_EQ(ActiveRules(), (std::vector<std::tuple<unsigned, std::string, unsigned, std::string>>{
                                 {kRoot, "RC_0", static_cast<unsigned>(r.modules),
                                  "模块" + std::to_string(r.modules) + "整流模块故障告警"}}));

    EXPECT_EQ(Value(kAc, "ib"), -0.1f);
    EXPECT_EQ(Value(kAc, "channel_1_b"), 0.0f);
    EXPECT_EQ(Value(kAc, "ia"), AsFloat(site["ac"][0]["ia"]));
    EXPECT_EQ(Value(kAc, "channel_1_a"), AsFloat(site["ac"][0]["channels"][1]["a"]));
    EXPECT_EQ(Value(kDc, "v"), AsFloat(site["dc"][0]["v"]));
  }
}

TEST_F(SimEndToEnd, RestartWithHistoryAnswersFromTheCacheBeforeAnyRequest) {
  const Json::Value site = ReadJson(RVT_SCENARIO_DIR "/default.json");
  ASSERT_NO_FATAL_FAILURE(Start(ScenarioOf(site)));
  ASSERT_NO_FATAL_FAILURE(RunRounds(2));
  const uint64_t requests = server->Requests();

  // A new host process: new controller and devices, the same history.
  root->ClosePort();
  root.reset();
  ASSERT_NO_FATAL_FAILURE(StartRoot());
  Advance(30);
  for (const auto& unit : dev->GetAllChildVDevices()) {
    const auto image = history->Newest(unit->DataId());
    ASSERT_TRUE(image.has_value()) << unit->DataId();
    EXPECT_TRUE(unit->LoadFromCache(std::string(image->begin(), image->end()))) << unit->DataId();
  }
  ExpectScenarioValues(site);
  EXPECT_EQ(server->Requests(), requests);

  // The line takes over from there.
  ASSERT_NO_FATAL_FAILURE(RunRounds(1));
  ExpectScenarioValues(site);
}

TEST(SimScenarioFiles, EveryExampleLoads) {
  size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(RVT_SCENARIO_DIR)) {
    if (entry.path().extension() != ".json") continue;
    ++files;
    EXPECT_NO_THROW(sim::Scenario::Load(entry.path().string())) << entry.path();
  }
  EXPECT_GE(files, 2u);
}

}  // namespace
