// What zelhost reads and writes: replay files, recordings, event lines and value answers.
#include <gtest/gtest.h>
#include <json/reader.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "Events.h"
#include "HostTest.h"
#include "Replay.h"

namespace {

using zel::ReplayLine;

TEST(ReplayFile, LinesThatCount) {
  std::istringstream in(
      "# a session\n"
      "\n"
      "40 0011AA\r\n"
      "  42   \n"
      "timeout\n"
      "+30\n"
      "-2\n"
      "41 01 02 0a\n");
  const auto lines = zel::ParseReplay(in);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0].kind, ReplayLine::Kind::Reply);
  EXPECT_EQ(lines[0].cid1, 0x40);
  EXPECT_EQ(lines[0].info, (std::vector<uint8_t>{0x00, 0x11, 0xAA}));
  EXPECT_EQ(lines[0].lineNo, 3);
  EXPECT_EQ(lines[1].cid1, 0x42);
  EXPECT_TRUE(lines[1].info.empty());
  EXPECT_EQ(lines[2].kind, ReplayLine::Kind::Timeout);
  EXPECT_EQ(lines[3].kind, ReplayLine::Kind::Advance);
  EXPECT_EQ(lines[3].seconds, 30);
  EXPECT_EQ(lines[4].seconds, -2);
  EXPECT_EQ(lines[5].info, (std::vector<uint8_t>{0x01, 0x02, 0x0A}));
}

TEST(ReplayFile, ALineThatDoesNotParseIsNamedByNumber) {
  struct Case {
    const char* text;
    int line;
    const char* says;
  } cases[] = {
      {"40 00\n40 0G\n", 2, "\"40 0G\""},
      {"# c\n4 00\n", 2, "\"4 00\""},
      {"40 001\n", 1, "\"40 001\""},
      {"+\n", 1, "\"+\""},
      {"+1x\n", 1, "\"+1x\""},
      {"TIMEOUT\n", 1, "expected"},
      {"4041 00\n", 1, "CID1 is not one hex byte"},
  };
  for (const auto& c : cases) {
    std::istringstream in(c.text);
    try {
      zel::ParseReplay(in);
      ADD_FAILURE() << c.text << " parsed";
    } catch (const zel::ReplayError& e) {
      EXPECT_EQ(e.line(), c.line) << c.text;
      EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
      EXPECT_EQ(std::string(e.what()).rfind("line " + std::to_string(c.line) + ": ", 0), 0u);
    }
  }
  std::istringstream tooLong("40 " + std::string(2 * 2048, 'A') + "\n");
  EXPECT_THROW(zel::ParseReplay(tooLong), zel::ReplayError);
}

// The recorder keeps the replay's clock: 2 s before each request that follows a reply after
// which nothing was sent, and "+N" wherever the session's clock differs.
TEST(Recording, ClockMovesFollowTheReplay) {
  std::vector<std::string> lines;
  zel::Recorder recorder([&](const std::string& l) { lines.push_back(l); });
  const auto at = [](long s) { return zel::kReplayStart + boost::posix_time::seconds(s); };
  zel::ReplyOutcome model{true, 0x40, {0x52, 0x56}};
  zel::ReplyOutcome ac{true, 0x40, {}};
  zel::ReplyOutcome none;

  recorder.Outcome(model, at(100), true);  // the session began 100 s after the replay's start
  recorder.Outcome(ac, at(100), false);    // the round ends
  recorder.Outcome(ac, at(102), true);     // next round two seconds on: the replay's step
  recorder.Outcome(none, at(105), false);  // a timeout three seconds later
  recorder.Outcome(ac, at(106), true);     // retried within a second: the replay runs ahead
  const std::vector<std::string> expected = {"+100", "40 5256", "40", "40",
                                             "+3",   "timeout", "-1", "40"};
  EXPECT_EQ(lines, expected);

  // What the recorder writes reads back as it was meant.
  std::ostringstream text;
  for (const auto& l : lines) text << l << "\n";
  std::istringstream in(text.str());
  const auto parsed = zel::ParseReplay(in);
  ASSERT_EQ(parsed.size(), lines.size());
  EXPECT_EQ(parsed[1].info, model.info);
  EXPECT_EQ(parsed[6].seconds, -1);
}

Json::Value Parse(const std::string& line) {
  Json::Value v;
  std::istringstream in(line);
  Json::CharReaderBuilder b;
  std::string errors;
  EXPECT_TRUE(Json::parseFromStream(b, in, &v, &errors)) << line << errors;
  return v;
}

TEST(EventLines, OneCompactObjectPerEvent) {
  std::vector<std::string> lines;
  zel::EventWriter writer([&](const std::string& l) { lines.push_back(l); });

  zel::Event request(zel::Event::Kind::Request);
  request.device = 1;
  request.cid1 = 0x40;
  request.cid2 = 0x41;
  request.bytes = {0xFF};
  writer.Write(request);
  zel::Event publish(zel::Event::Kind::Publish);
  publish.device = 11;
  publish.dataType = 5106;
  publish.bytes = {0x0B, 0x00, 0xab, 0xCD};
  writer.Write(publish);
  zel::Event rules(zel::Event::Kind::Rules);
  rules.device = 11;
  rule_value r;
  r.active = 1;
  r.id = "AC_0";
  r.code = "06015";
  r.level = 3;
  r.seq = 1;
  r.name = "交流输入电压过低告警";
  r.text = "交流屏1输入线/相电压AB/A";
  rules.rules = {r};
  writer.Write(rules);
  zel::Event alarm(zel::Event::Kind::Alarm);
  alarm.device = 11;
  alarm.id = "AC_0";
  alarm.seq = 1;
  alarm.text = r.text;
  alarm.raised = true;
  writer.Write(alarm);
  writer.Write(zel::Event(zel::Event::Kind::Reset));  // not an event of the stream
  writer.Values(11, {{"ia", 0.1f}, {"ib", std::string("数据未就绪")}, {"ic", 229.8f}});
  writer.Cache(11, true);
  writer.Round(1, 2);
  writer.End(1);

  ASSERT_EQ(lines.size(), 8u);
  for (const auto& l : lines) EXPECT_EQ(l.find('\n'), std::string::npos) << l;
  EXPECT_EQ(Parse(lines[0]), Parse(R"({"event":"request","device":1,"cid1":"40","cid2":"41",
                                        "info":"FF"})"));
  EXPECT_EQ(Parse(lines[1])["image"].asString(), "0B00ABCD");
  EXPECT_EQ(Parse(lines[1])["fields_error"].asString(),
            "image of 4 bytes, a 5106 image needs at least 32");
  const Json::Value rule = Parse(lines[2])["rules"][0];
  EXPECT_EQ(rule["id"].asString(), "AC_0");
  EXPECT_EQ(rule["code"].asString(), "06015");
  EXPECT_EQ(rule["level"].asInt(), 3);
  EXPECT_EQ(rule["seq"].asInt(), 1);
  EXPECT_EQ(rule["text"].asString(), r.text);
  EXPECT_TRUE(rule["active"].asBool());
  EXPECT_NE(lines[2].find("交流屏1"), std::string::npos) << "UTF-8 as it stands";
  EXPECT_EQ(Parse(lines[3])["state"].asString(), "raised");

  const Json::Value values = Parse(lines[4]);
  EXPECT_EQ(values["event"].asString(), "values");
  EXPECT_EQ(values["values"]["ia"].asFloat(), 0.1f);  // enough digits to give the float back
  EXPECT_EQ(values["values"]["ic"].asFloat(), 229.8f);
  EXPECT_EQ(values["values"]["ib"].asString(), "数据未就绪");
  EXPECT_EQ(Parse(lines[5]), Parse(R"({"event":"cache","device":11,"accepted":true})"));
  EXPECT_EQ(Parse(lines[6]), Parse(R"({"event":"round","device":1,"round":2})"));
  EXPECT_EQ(Parse(lines[7]), Parse(R"({"event":"end","device":1})"));
}

// A unit that answers like the AC unit: a few names, then channels until out of range.
struct Unit : rvt_test::PlainDevice {
  Unit(const std::string& type, int channels, bool ready) : channels(channels), ready(ready) {
    deviceType_ = type;
  }
  float Get_Value(unsigned int, const std::string& name) const override {
    if (!ready) throw std::out_of_range("数据未就绪");
    if (name == "ia") return 1.5f;
    if (name == "ib") throw std::out_of_range("数据未提供");
    if (name == "v") return 53.5f;
    if (name.rfind("channel_", 0) == 0) {
      const int k = name[8] - '0';
      if (k >= channels) throw std::out_of_range("通道参数越界");
      return static_cast<float>(100 * k + (name.back() - 'a'));
    }
    throw std::out_of_range("数据未提供");
  }
  int channels;
  bool ready;
};

std::string Names(const zel::Answers& answers) {
  std::string out;
  for (const auto& [name, answer] : answers) {
    out += name + "=";
    if (const float* f = std::get_if<float>(&answer)) {
      out += std::to_string(static_cast<int>(*f));
    } else {
      out += std::get<std::string>(answer);
    }
    out += " ";
  }
  return out;
}

TEST(UnitValues, NamesByKindAndChannelsUpToTheFirstMissing) {
  struct Case {
    const char* type;
    int channels;
    bool ready;
    const char* expected;
  } cases[] = {
      {"rvt2600-ac", 2, true,
       "ia=1 ib=数据未提供 ic=数据未提供 ia_alert=数据未提供 ib_alert=数据未提供 "
       "ic_alert=数据未提供 channel_1_a=0 channel_1_b=1 channel_1_c=2 channel_1_f=5 "
       "channel_2_a=100 channel_2_b=101 channel_2_c=102 channel_2_f=105 "},
      {"rvt2600-ac", 0, true,
       "ia=1 ib=数据未提供 ic=数据未提供 ia_alert=数据未提供 ib_alert=数据未提供 "
       "ic_alert=数据未提供 "},
      {"rvt2600-ac", 2, false,
       "ia=数据未就绪 ib=数据未就绪 ic=数据未就绪 ia_alert=数据未就绪 ib_alert=数据未就绪 "
       "ic_alert=数据未就绪 "},
      {"rvt2600-dc", 2, true, "v=53 i=数据未提供 "},
      {"rvt2600-rc", 2, true, ""},
  };
  for (const auto& c : cases) {
    Unit unit(c.type, c.channels, c.ready);
    EXPECT_EQ(zel::AnswersValues(unit), std::strlen(c.expected) != 0) << c.type;
    EXPECT_EQ(Names(zel::ReadValues(unit)), c.expected) << c.type;
  }
}

}  // namespace
