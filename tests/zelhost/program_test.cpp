// The zelhost program end to end on the built plugin: replays, a restart from the history, a
// session recorded on a pty, and the mistakes a user makes.
#include <gtest/gtest.h>
#include <json/reader.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "LineServer.h"
#include "Scenario.h"
#include "ZelhostRun.h"

namespace {

using namespace zelhost_test;

std::vector<std::string> Requests(const std::vector<Json::Value>& events) {
  std::vector<std::string> out;
  for (const auto& e : Only(events, "request"))
    out.push_back(e["cid1"].asString() + e["cid2"].asString() + e["info"].asString());
  return out;
}

// Ids of the active rules of each rules event of a device, one string per event.
std::vector<std::string> ActiveRules(const std::vector<Json::Value>& events, unsigned device,
                                     const std::string& idPrefix) {
  std::vector<std::string> out;
  for (const auto& e : Only(events, "rules")) {
    if (e["device"].asUInt() != device) continue;
    if (e["rules"][0]["id"].asString().rfind(idPrefix, 0) != 0) continue;
    std::string active = std::to_string(e["rules"].size()) + ":";
    for (const auto& r : e["rules"])
      if (r["active"].asBool()) active += " " + r["id"].asString() + "/" + r["seq"].asString();
    out.push_back(active);
  }
  return out;
}

// The 7-byte time stamp of an image at a byte offset, as hex.
std::string Stamp(const Json::Value& publish, size_t offset) {
  return publish["image"].asString().substr(2 * offset, 14);
}

const std::vector<std::string> kFullRound = {"4041FF", "4043FF", "4044FF", "4141", "4143",
                                             "4144",   "4241",   "4244",   "4046", "4246"};

TEST_F(ZelhostTest, ReplayOfTwoRounds) {
  const auto events = Replay(FixtureReplies());

  std::vector<std::string> requests = {"4051"};
  requests.insert(requests.end(), kFullRound.begin(), kFullRound.end());
  // The second round asks only for what the change flags name; the third waits for a line.
  for (const char* r : {"4041FF", "4044FF", "4141", "4241", "4046", "4246", "4041FF"})
    requests.push_back(r);
  EXPECT_EQ(Requests(events), requests);

  const auto published = Only(events, "publish");
  ASSERT_EQ(published.size(), 6u);
  const struct {
    unsigned device;
    int type;
    size_t bytes;
    size_t stampAt;
  } images[] = {{11, 5106, 32 + 2 * 30, 25}, {21, 5108, 166, 159}, {1, 5107, 65 + 2 * 32, 58}};
  for (size_t k = 0; k < 6; ++k) {
    const auto& want = images[k % 3];
    EXPECT_EQ(published[k]["device"].asUInt(), want.device);
    EXPECT_EQ(published[k]["data_type"].asInt(), want.type);
    EXPECT_EQ(published[k]["image"].asString().size(), 2 * want.bytes);
    // 2026-01-01 00:00:00, then the round two seconds later
    EXPECT_EQ(Stamp(published[k], want.stampAt), k < 3 ? "EA070101000000" : "EA070101000002");
  }
  EXPECT_EQ(published[0]["image"].asString().substr(0, 32), "0B00000033333341CDCC2C4100003841")
      << "data id 11, ia 11.2, ib 10.8, ic 11.5";
  // Beside the hex, the image decoded; the export's lines hold the same fields.
  const std::vector<std::string> exported =
      FileLines(std::string(ZELHOST_DATA) + "/two_rounds.jsonl");
  ASSERT_EQ(exported.size(), published.size());
  for (size_t k = 0; k < published.size(); ++k) {
    Json::Value line;
    std::istringstream in(exported[k]);
    ASSERT_TRUE(Json::parseFromStream(Json::CharReaderBuilder(), in, &line, nullptr));
    EXPECT_EQ(published[k]["fields"], line["fields"]) << k;
  }
  EXPECT_EQ(published[0]["fields"]["channel_2_a"].asFloat(), 228.6f);

  EXPECT_EQ(ActiveRules(events, 11, "AC_"), (std::vector<std::string>{"31:", "31: AC_0/12"}));
  EXPECT_EQ(ActiveRules(events, 21, "DC_"), (std::vector<std::string>{"66:", "66:"}));
  EXPECT_EQ(ActiveRules(events, 1, "RC_"), (std::vector<std::string>{"2:", "2:"}));
  const auto alarms = Only(events, "alarm");
  ASSERT_EQ(alarms.size(), 1u);
  EXPECT_EQ(alarms[0]["id"].asString(), "AC_0");
  EXPECT_EQ(alarms[0]["text"].asString(), "交流屏2输入线/相电压AB/A");
  EXPECT_EQ(alarms[0]["state"].asString(), "raised");

  const auto values = Only(events, "values");
  ASSERT_EQ(values.size(), 4u);
  const Json::Value& ac = values[2]["values"];
  EXPECT_EQ(values[2]["device"].asUInt(), 11u);
  EXPECT_EQ(ac["ia"].asFloat(), 11.2f);
  EXPECT_EQ(ac["ic"].asFloat(), 11.5f);
  EXPECT_EQ(ac["ia_alert"].asFloat(), 0.0f);
  EXPECT_EQ(ac["channel_1_a"].asFloat(), 229.8f);
  EXPECT_EQ(ac["channel_2_f"].asFloat(), 49.9f);
  EXPECT_FALSE(ac.isMember("channel_3_a"));
  EXPECT_EQ(values[1]["values"]["i"].asFloat(), 118.7f);
  EXPECT_EQ(values[3]["values"]["i"].asFloat(), 120.5f);
  EXPECT_EQ(values[3]["values"]["v"].asFloat(), 53.5f);

  const auto rounds = Only(events, "round");
  ASSERT_EQ(rounds.size(), 2u);
  EXPECT_EQ(rounds[1]["round"].asInt(), 2);
  // Each round: its images, then its values, then the round; the end comes last.
  EXPECT_EQ(events.back()["event"].asString(), "end");
  EXPECT_EQ(events[events.size() - 3]["event"].asString(), "round");
}

// The AC channels' names in a text, in order of first appearance: "channel_1_a" from
// "channel_1_a=229.8", a CSV header or a list of JSON member names ("channel_1_a_alert" is none).
std::vector<std::string> ChannelNames(const std::string& text) {
  static const std::regex name("channel_[0-9]+_a\\b");
  std::vector<std::string> out;
  for (std::sregex_iterator it(text.begin(), text.end(), name), end; it != end; ++it)
    if (std::find(out.begin(), out.end(), it->str()) == out.end()) out.push_back(it->str());
  return out;
}

std::string MemberNames(const Json::Value& object) {
  std::string out;
  for (const std::string& n : object.getMemberNames()) out += n + " ";
  return out;
}

TEST_F(ZelhostTest, TheSummaryTheEventsAndTheExportNameTheFirstChannelAlike) {
  const std::string db = dir + "history.db";
  WriteFile(dir + "replay.txt", ReadFile(std::string(ZELHOST_DATA) + "/two_rounds.replay"));
  const Result run = Zelhost("--config '" + Config() + "' --replay '" + dir +
                             "replay.txt' --history '" + db + "'");
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string summary = ReadFile(dir + "stdout");
  const Result exported = Zelhost("--history '" + db + "' --export csv");
  ASSERT_EQ(exported.status, 0) << exported.err;
  const std::vector<std::string> csv = FileLines(dir + "stdout");
  ASSERT_GE(csv.size(), 2u);
  const auto events = Replay(FixtureReplies());
  const Json::Value fields = Only(events, "publish")[0]["fields"];  // the AC unit, round 1
  const Json::Value values = Only(events, "values")[0]["values"];
  ASSERT_EQ(Only(events, "values")[0]["device"].asUInt(), 11u);

  // Two channels, named alike everywhere.
  const std::vector<std::string> two = {"channel_1_a", "channel_2_a"};
  EXPECT_EQ(ChannelNames(summary), two) << summary;
  EXPECT_EQ(ChannelNames(MemberNames(fields)), two);
  EXPECT_EQ(ChannelNames(MemberNames(values)), two);
  EXPECT_EQ(ChannelNames(csv[0]), two);

  // And one name is one channel: the first one's voltage a of round 1 under it in each.
  EXPECT_NE(summary.find(" channel_1_a=229.8 "), std::string::npos) << summary;
  EXPECT_EQ(fields["channel_1_a"].asFloat(), 229.8f);
  EXPECT_EQ(values["channel_1_a"].asFloat(), 229.8f);
  std::vector<std::string> header, first;
  for (auto [line, cells] : {std::pair{csv[0], &header}, std::pair{csv[1], &first}}) {
    std::istringstream in(line);
    for (std::string cell; std::getline(in, cell, ',');) cells->push_back(cell);
  }
  const size_t column = std::find(header.begin(), header.end(), "channel_1_a") - header.begin();
  ASSERT_LT(column, first.size());
  EXPECT_EQ(first[1], "11");
  EXPECT_EQ(first[column], "229.8");
}

TEST_F(ZelhostTest, ATimeoutAtTheLastStepRestartsTheRound) {
  const auto fixture = FixtureReplies();
  std::vector<std::string> replies(fixture.begin(), fixture.begin() + 10);   // up to 40 46
  replies.push_back("timeout");                                              // no reply to 42 46
  replies.insert(replies.end(), fixture.begin() + 1, fixture.begin() + 11);  // the round again
  const auto events = Replay(replies);

  std::vector<std::string> requests = {"4051"};
  requests.insert(requests.end(), kFullRound.begin(), kFullRound.end());
  requests.insert(requests.end(), kFullRound.begin(), kFullRound.end());
  requests.push_back("4041FF");
  EXPECT_EQ(Requests(events), requests);

  // The log names the missing reply; the one round that ends is the restarted one.
  bool logged = false;
  for (const auto& e : Only(events, "log"))
    logged = logged || e["text"].asString() == "zelhost: no reply to 42 46";
  EXPECT_TRUE(logged);
  const auto published = Only(events, "publish");
  ASSERT_EQ(published.size(), 3u);
  EXPECT_EQ(Stamp(published[0], 25), "EA070101000002");  // after the 2 s of the retry
  EXPECT_EQ(Only(events, "round").size(), 1u);
}

TEST_F(ZelhostTest, ARestartAnswersFromTheHistoryBeforeTheFirstRound) {
  const auto first = Replay(FixtureReplies(), "--history '" + dir + "history.db'");
  const auto lastValues = Only(first, "values");
  ASSERT_EQ(lastValues.size(), 4u);

  // Restarted with the history named in the configuration, and no reply to give.
  WriteFile(dir + "empty.txt", "# nothing on the line\n");
  const Result r = Zelhost("--config '" + Config("", "\"history\": \"history.db\",") +
                           "' --replay '" + dir + "empty.txt' --events '" + dir + "again.jsonl'");
  ASSERT_EQ(r.status, 0) << r.err;
  const auto events = Events(dir + "again.jsonl");
  std::vector<std::string> kinds;
  for (const auto& e : events) kinds.push_back(e["event"].asString());
  EXPECT_EQ(kinds, (std::vector<std::string>{"cache", "cache", "cache", "values", "values",
                                             "request", "end"}));
  for (size_t k = 0; k < 3; ++k) EXPECT_TRUE(events[k]["accepted"].asBool()) << k;
  EXPECT_EQ(events[0]["device"].asUInt(), 11u);
  EXPECT_EQ(events[2]["device"].asUInt(), 1u);  // the rectifier unit keeps the root's id
  // The newest images: the values of the last round before the restart.
  EXPECT_EQ(events[3], lastValues[2]);
  EXPECT_EQ(events[4], lastValues[3]);
}

TEST_F(ZelhostTest, ASessionRecordedOnAPtyReplaysToTheSameEvents) {
  // One reply missing, one damaged and one cut by a pause longer than the gap; each is asked
  // for again. A reply in pieces with short pauses comes through.
  sim::LineServer server(sim::Scenario::Parse(R"({
    "model": "rvt2600",
    "ac": [{"channels": [{"a": 229.8, "b": 230.4, "c": 231.1, "f": 50.0, "alerts": [0, 2, 0, 0]}],
            "ia": 11.2, "ib": 10.8, "ic": 11.5}],
    "rc": {"group": 53.5, "modules": [{"analog": 19.8, "fault": 1}]},
    "dc": [{"v": 53.5, "i": 118.7, "fuses": 64, "fuse_faults": [3]}],
    "faults": [{"round": 1, "step": "41_43", "kind": "silence"},
               {"round": 1, "step": "42_41", "kind": "bad_checksum"},
               {"round": 1, "step": "40_43", "kind": "chunks", "size": 8, "delay_ms": 150},
               {"round": 1, "step": "41_44", "kind": "chunks", "size": 8, "delay_ms": 5}]
  })",
                                              "test scenario"));
  server.OpenPty();
  server.Start();
  const std::string config =
      Config("\"port\": \"" + server.Path() + "\", \"reply_timeout_ms\": 100, \"gap_ms\": 50,");
  const Result live = Zelhost("--config '" + config + "' --rounds 1 --trace --record '" + dir +
                              "session.replay' --events '" + dir + "live.jsonl'");
  server.Stop();
  ASSERT_EQ(live.status, 0) << live.err;
  EXPECT_NE(live.err.find(">> ~20014051"), std::string::npos) << live.err;
  EXPECT_NE(live.err.find("dropped: bad CHKSUM"), std::string::npos) << live.err;
  EXPECT_NE(live.err.find("dropped: gap inside a frame"), std::string::npos) << live.err;
  const std::string recording = ReadFile(dir + "session.replay");
  size_t timeouts = 0;
  for (size_t at = 0; (at = recording.find("\ntimeout\n", at)) != std::string::npos; ++at)
    ++timeouts;
  EXPECT_GE(timeouts, 3u) << recording;  // a retry may meet the rest of the cut reply

  const Result replay = Zelhost("--config '" + config + "' --replay '" + dir +
                                "session.replay' --events '" + dir + "replay.jsonl'");
  ASSERT_EQ(replay.status, 0) << replay.err;
  const auto a = Events(dir + "live.jsonl");
  const auto b = Events(dir + "replay.jsonl");
  for (const char* kind : {"publish", "rules", "values"}) {
    ASSERT_EQ(Only(a, kind).size(), Only(b, kind).size()) << kind;
    EXPECT_EQ(Only(a, kind), Only(b, kind)) << kind;
  }
  EXPECT_EQ(Only(a, "publish").size(), 3u);
  EXPECT_EQ(ActiveRules(a, 21, "DC_"), (std::vector<std::string>{"66: DC_3/5"}));
  EXPECT_EQ(ActiveRules(a, 1, "RC_"), (std::vector<std::string>{"1: RC_0/1"}));
}

// An AC alarm-state reply whose parts do not fill it: the plugin returns without a request and
// without ending the round, which waits for the next poll. The host says so once, in the log
// (the events', and among the frames of --trace), and counts it in the round's faults.
TEST_F(ZelhostTest, AReplyTheDeviceDoesNotTakeIsLoggedAndCounted) {
  std::vector<std::string> replies = FixtureReplies();
  replies.insert(replies.begin() + 3, replies[3] + "00");
  const std::string line = "zelhost: reply to 40 44 not taken by the device, round waits";
  const auto events = Replay(replies);
  size_t logged = 0;
  for (const auto& e : Only(events, "log")) logged += e["text"].asString() == line;
  EXPECT_EQ(logged, 1u);
  EXPECT_EQ(Only(events, "publish").size(), 6u);  // asked again, the round goes on

  const Result r = Zelhost("--config '" + Config() + "' --replay '" + dir + "replay.txt' --trace");
  ASSERT_EQ(r.status, 0) << r.err;
  const size_t at = r.err.find("[1] " + line + "\n");
  ASSERT_NE(at, std::string::npos) << r.err;
  EXPECT_EQ(r.err.rfind("[1] << ~", at), r.err.rfind("[1] << ~20014000", at)) << r.err;
  EXPECT_EQ(r.err.find("[1] >> ~", at), r.err.find("[1] >> ~20014044", at)) << r.err;
  std::vector<std::string> faults;
  for (const std::string& l : FileLines(dir + "stdout"))
    if (l.rfind("  faults:", 0) == 0) faults.push_back(l);
  EXPECT_EQ(faults,
            (std::vector<std::string>{"  faults: reply to 40 44 not taken 1", "  faults: none"}));
}

TEST_F(ZelhostTest, TheSummaryShowsEveryUnitAndCountsProtocolErrors) {
  // The scenario beside a configuration in a folder of its own, run from elsewhere: the "sim:"
  // path counts from the configuration's folder.
  ASSERT_EQ(std::system(("mkdir -p '" + dir + "site'").c_str()), 0);
  WriteFile(dir + "site/scenario.json", R"({
    "model": "rvt2600",
    "ac": [{"channels": [{"a": 229.8, "b": 230.4, "c": 231.1, "f": 50.0}],
            "ia": 11.2, "ib": 10.8, "ic": 11.5}],
    "rc": {"group": 53.5, "modules": [{"analog": 19.8}, {"analog": 20.1, "fault": 1}]},
    "dc": [{"v": 53.5, "i": 118.7, "m": [1, 2, 3, 4], "n": [1, 2, 3, 4, 5, 6, 7, 8, 9],
            "p": [1, 2, 3], "v_state": 1, "fuses": 64, "fuse_faults": [5, 64],
            "user_alarms": [0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1]}],
    "faults": [{"round": 1, "step": "42_41", "kind": "count", "field": "dc/0/p", "value": 4}]
  })");
  WriteFile(dir + "site/config.json", ReadFile(Config("\"port\": \"sim:scenario.json\",")));
  const Result r = Zelhost("--config '" + dir + "site/config.json' --rounds 2");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> out = FileLines(dir + "stdout");
  for (const std::string& line : out) EXPECT_LE(line.size(), 80u) << line;
  auto has = [&](const std::string& line) {
    return std::find(out.begin(), out.end(), line) != out.end();
  };
  EXPECT_TRUE(has("  rvt2600-rc 1: group 53.5, modules 19.8 20.1, fault 2=1"))
      << ReadFile(dir + "stdout");
  EXPECT_TRUE(has("  rvt2600-dc 21 states: voltage low, fuses in fault 5 64, user alarms 2=2 13=1"))
      << ReadFile(dir + "stdout");
  // Round 1: the DC analog reply with one user value too many; round 2 is sound.
  EXPECT_TRUE(has("  faults: \"read p_count is\" 1")) << ReadFile(dir + "stdout");
  EXPECT_TRUE(has("  faults: none")) << ReadFile(dir + "stdout");
}

TEST_F(ZelhostTest, TheSummaryShowsAModuleCountChangeAsAProtocolError) {
  // The fixture, with its second round's rectifier analog reply reporting one module of the two.
  const std::string twoModules =
      "41 00000056420266669E410400000000000000000000000000000000CDCCA04104000000000000000000000000"
      "00000000";
  std::vector<std::string> replies = FixtureReplies();
  const auto at = std::find(replies.begin(), replies.end(), twoModules);
  ASSERT_NE(at, replies.end());
  *at = "41 00000056420166669E410400000000000000000000000000000000";
  std::string text;
  for (const std::string& l : replies) text += l + "\n";
  WriteFile(dir + "replay.txt", text);
  const Result r = Zelhost("--config '" + Config() + "' --replay '" + dir + "replay.txt'");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("[1] PMBusPowerRC<TeleRC,TeleRCChannel,RT_RC>:ProcotolError 1 read 41_41 "
                       "channel_count changed 2 -> 1\n"),
            std::string::npos)
      << r.err;
  const std::vector<std::string> out = FileLines(dir + "stdout");
  std::vector<std::string> rc, faults;
  for (const std::string& line : out) {
    if (line.rfind("  rvt2600-rc 1:", 0) == 0) rc.push_back(line);
    if (line.rfind("  faults:", 0) == 0) faults.push_back(line);
  }
  EXPECT_EQ(rc,
            (std::vector<std::string>{"  rvt2600-rc 1: group 53.5, modules 19.8 20.1, fault none",
                                      "  rvt2600-rc 1: group 53.5, modules 19.8, fault none"}))
      << ReadFile(dir + "stdout");
  EXPECT_EQ(faults, (std::vector<std::string>{"  faults: none",
                                              "  faults: \"read 41_41 channel_count changed\" 1"}))
      << ReadFile(dir + "stdout");
}

TEST_F(ZelhostTest, MistakesGiveOneLineAndAFailingStatus) {
  // A missing port is waited for; one that exists and can never be a serial line is not.
  WriteFile(dir + "plain.txt", "");
  WriteFile(dir + "port.json", ReadFile(Config("\"port\": \"" + dir + "plain.txt\",")));
  WriteFile(dir + "null.json", ReadFile(Config("\"port\": \"/dev/null\",")));
  WriteFile(dir + "reopen.json", ReadFile(Config("\"port\": \"/dev/null\", \"reopen_ms\": 0,")));
  const std::string good = Config();
  WriteFile(dir + "broken.json", "{\"devices\": [\n  {\"type\": \"rvt2600\",,}\n]}");
  WriteFile(dir + "unknown.json",
            std::string("{\"plugin\": \"") + ZELHOST_PLUGIN +
                "\", \"devices\": [{\"type\": \"rvt9999\", \"data_id\": 1}]}");
  WriteFile(dir + "noplugin.json", "{\"devices\": [{\"type\": \"rvt2600\", \"data_id\": 1}]}");
  WriteFile(dir + "bad.replay", "40 00\n# fine so far\n40 0G\n");
  WriteFile(dir + "not-a-plugin.so", "text");
  WriteFile(dir + "norc.json",
            std::string("{\"plugin\": \"") + ZELHOST_PLUGIN +
                "\", \"devices\": [{\"type\": \"rvt2600\", \"data_id\": 1, \"settings\": "
                "{\"port\": \"/dev/null\", \"acSetting\": [{\"data_id\": 11}]}}]}");
  const std::string d = "'" + dir;

  const struct {
    std::string args;
    std::string says;
  } cases[] = {
      {"", "no configuration"},
      {"--config " + d + "missing.json'", "cannot read configuration " + dir + "missing.json"},
      {"--config " + d + "broken.json'", "is not valid JSON: Line 2, Column"},
      {"--config " + d + "unknown.json' --replay " + d + "bad.replay'",
       "unknown device type \"rvt9999\" (the plugin offers rvt2600"},
      {"--config " + d + "noplugin.json'", "no plugin"},
      {"--config " + d + "noplugin.json' --plugin " + d + "none.so'",
       "cannot load plugin " + dir + "none.so"},
      {"--config " + d + "noplugin.json' --plugin " + d + "not-a-plugin.so'",
       "cannot load plugin " + dir + "not-a-plugin.so"},
      {"--config " + d + "port.json'", "port " + dir + "plain.txt is not a character device"},
      {"--config " + d + "null.json'", "cannot open port /dev/null: Inappropriate ioctl"},
      {"--config " + d + "reopen.json'", "\"reopen_ms\" is not a number of milliseconds"},
      {"--config '" + good + "'", "no \"port\" in its settings"},
      {"--config " + d + "norc.json'", "refuses its settings"},
      {"--config '" + good + "' --replay " + d + "bad.replay'", "bad.replay line 3: \"40 0G\""},
      {"--config '" + good + "' --replay " + d + "missing.replay'", "cannot read replay"},
      {"--config '" + good + "' --rounds 0", "--rounds"},
  };
  for (const auto& c : cases) {
    const Result r = Zelhost(c.args);
    EXPECT_NE(r.status, 0) << c.args;
    EXPECT_EQ(r.err.rfind("zelhost: ", 0), 0u) << c.args << "\n" << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << "\n" << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.args << "\n" << r.err;
  }
}

}  // namespace
