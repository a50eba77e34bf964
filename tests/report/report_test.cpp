// The session report's data, read back from the page it writes: thinning keeps every extreme,
// not-available values are gaps, the line's gaps and the alarm bars.
#include <gtest/gtest.h>
#include <json/reader.h>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "Report.h"
#include "SessionData.h"
#include "Text.h"

namespace {

namespace pt = boost::posix_time;

using Fields = std::vector<std::pair<std::string, double>>;

const pt::ptime kStart(boost::gregorian::date(2026, 1, 1));

// The session data inside the page.
Json::Value SessionOf(const zel::SessionReport& report) {
  return SessionDataOf(report.Page());
}

const Json::Value& Series(const Json::Value& session, unsigned dataId, const std::string& label) {
  for (const Json::Value& u : session["units"])
    if (u["data_id"].asUInt() == dataId)
      for (const Json::Value& c : u["charts"])
        for (const Json::Value& s : c["series"])
          if (s["label"].asString() == label) return s["y"];
  static const Json::Value none;
  ADD_FAILURE() << "no series " << label << " of " << dataId;
  return none;
}

TEST(SessionReport, ThinningKeepsTheExtremesOfEveryColumn) {
  for (const size_t rounds : {size_t{2000}, size_t{100000}}) {
    zel::SessionReport report;
    for (size_t k = 0; k < rounds; ++k) {
      const double v = k == rounds / 3 ? 60.0 : k == rounds / 2 + 7 ? 40.0 : 53.5;
      report.AddImage(102, 5108, kStart + pt::seconds(2 * static_cast<long>(k)),
                      Fields{{"data_id", 102}, {"v", v}, {"i", 118.5}});
    }
    const Json::Value s = SessionOf(report);
    const Json::Value& v = Series(s, 102, "v");
    double lo = 1e9, hi = -1e9;
    for (const Json::Value& y : v) {
      lo = std::min(lo, y.asDouble());
      hi = std::max(hi, y.asDouble());
    }
    EXPECT_EQ(lo, 40.0) << rounds;
    EXPECT_EQ(hi, 60.0) << rounds;
    if (rounds <= 2 * zel::SessionReport::kColumns) {
      EXPECT_EQ(v.size(), rounds);
      EXPECT_EQ(s["units"][0]["thinned"].asUInt(), 0u);
    } else {
      EXPECT_LE(v.size(), 2 * zel::SessionReport::kColumns);
      EXPECT_GT(s["units"][0]["thinned"].asUInt(), 1u);
    }
    EXPECT_EQ(s["units"][0]["x"].size(), v.size());
  }
}

TEST(SessionReport, NotAvailableSubstitutesAreGapsWhereThePluginStoresThem) {
  struct Case {
    unsigned type;
    std::string field;
    double stored;
    bool gap;
    std::string label;  // of the series on the page
  };
  const Case cases[] = {
      {5106, "ia", -0.1f, true, "ia"},
      {5106, "ia", 0.0, false, "ia"},
      {5106, "channel_1_a", 0.0, true, "va"},
      {5106, "channel_1_f", -0.1f, false, "f"},
      {5108, "v", 0.0, false, "v"},
      {5108, "i", -0.1f, false, "i"},
      {5107, "module_1_analog", 0.0, false, "module 1"},
  };
  for (const Case& c : cases) {
    zel::SessionReport report;
    report.AddImage(7, c.type, kStart, Fields{{c.field, c.stored}});
    report.AddImage(7, c.type, kStart + pt::seconds(2), Fields{{c.field, 1.0}});
    const Json::Value s = SessionOf(report);
    const Json::Value& y = Series(s, 7, c.label);
    ASSERT_EQ(y.size(), 2u) << c.field;
    EXPECT_EQ(y[0].isNull(), c.gap) << c.type << " " << c.field << " " << c.stored;
    EXPECT_EQ(y[1].asDouble(), 1.0);
  }
}

TEST(SessionReport, ALineLostForLongerThanAFewRoundsIsAGapNoLineCrosses) {
  zel::SessionReport report;
  const long seconds[] = {0, 2, 4, 12, 14, 74, 76};  // 8 s: four periods; 60 s: the line lost
  for (long t : seconds) report.AddImage(102, 5108, kStart + pt::seconds(t), Fields{{"v", 53.5}});
  const Json::Value s = SessionOf(report);
  const Json::Value& unit = s["units"][0];
  ASSERT_EQ(unit["gaps"].size(), 1u);
  const long base = (kStart - pt::ptime(boost::gregorian::date(1970, 1, 1))).total_seconds();
  EXPECT_EQ(unit["gaps"][0][0].asInt64(), base + 14);
  EXPECT_EQ(unit["gaps"][0][1].asInt64(), base + 74);
  const Json::Value& v = Series(s, 102, "v");
  ASSERT_EQ(v.size(), 8u);  // the seven rounds and a null between 14 and 74
  EXPECT_TRUE(v[5].isNull());
  EXPECT_GT(unit["x"][5].asInt64(), base + 14);
  EXPECT_LT(unit["x"][5].asInt64(), base + 74);
}

TEST(SessionReport, APauseOfExactlyFivePeriodsIsNoGap) {
  const struct {
    long last;  // the round after the pause; the others at 0, 2, 4 and 6 s (a 2 s period)
    size_t gaps;
  } cases[] = {{16, 0}, {17, 1}};
  for (const auto& c : cases) {
    zel::SessionReport report;
    for (long t : {0L, 2L, 4L, 6L, c.last})
      report.AddImage(102, 5108, kStart + pt::seconds(t), Fields{{"v", 53.5}});
    const Json::Value s = SessionOf(report);
    EXPECT_EQ(s["units"][0]["period"].asInt64(), 2) << c.last;
    EXPECT_EQ(s["units"][0]["gaps"].size(), c.gaps) << c.last;
  }
}

TEST(SessionReport, AlarmBarsRunFromRaisedToClearedWithinTheRange) {
  zel::SessionReport report;
  report.SetRange(kStart + pt::seconds(100), pt::not_a_date_time);
  report.AddImage(102, 5108, kStart + pt::seconds(100), Fields{{"v", 53.5}});
  report.AddImage(102, 5108, kStart + pt::seconds(200), Fields{{"v", 53.5}});
  auto alarm = [&](const std::string& rule, bool raised, long at) {
    zel::AlarmRecord a;
    a.device = 102;
    a.ruleId = rule;
    a.text = "text of " + rule;
    a.level = 2;
    a.raised = raised;
    a.time = pt::to_iso_extended_string(kStart + pt::seconds(at));
    report.AddAlarm(a);
  };
  alarm("before", true, 10);  // raised and cleared before the range: not shown
  alarm("before", false, 20);
  alarm("across", true, 50);  // raised before the range, cleared in it
  alarm("inside", true, 120);
  alarm("across", false, 150);
  alarm("inside", false, 160);
  alarm("inside", true, 180);  // raised again and still active
  const Json::Value s = SessionOf(report);
  const long base = (kStart - pt::ptime(boost::gregorian::date(1970, 1, 1))).total_seconds();
  ASSERT_EQ(s["alarms"].size(), 2u);
  EXPECT_EQ(s["alarms"][0]["rule_id"].asString(), "across");
  ASSERT_EQ(s["alarms"][0]["bars"].size(), 1u);
  EXPECT_EQ(s["alarms"][0]["bars"][0][0].asInt64(), base + 100);
  EXPECT_EQ(s["alarms"][0]["bars"][0][1].asInt64(), base + 150);
  const Json::Value& inside = s["alarms"][1]["bars"];
  ASSERT_EQ(inside.size(), 2u);
  EXPECT_EQ(inside[0][0].asInt64(), base + 120);
  EXPECT_EQ(inside[0][1].asInt64(), base + 160);
  EXPECT_EQ(inside[1][0].asInt64(), base + 180);
  EXPECT_TRUE(inside[1][1].isNull());
  EXPECT_EQ(s["alarms_raised"].asUInt(), 2u);
}

TEST(SessionReport, ThinnedAsTheRoundsComeTheSamePageAsThinnedAtTheEnd) {
  // A rectifier unit with a module fault now and then, a second module from round 3000 on,
  // not-available values and the line lost twice, the first time right after the first
  // round; thinned as its rounds come (the time of the
  // last round known in advance, as a history's reader gives it) or once they are all in.
  auto fill = [](zel::SessionReport& report) {
    long t = 0;
    for (int k = 0; k < 9000; ++k) {
      t += k == 1 || k == 7000 ? 600 : k % 40 == 0 ? 4 : 2;
      Fields f{{"group_analog", 53.5 + (k % 17) * 0.1},
               {"module_1_analog", k % 13 == 0 ? 0.0 : 20 + (k % 7) * 0.25},
               {"module_1_fault", k % 500 < 3 ? 1.0 : 0.0}};
      if (k >= 3000) f.push_back({"module_2_analog", 19 + (k % 11) * 0.5});
      report.AddImage(100, 5107, kStart + pt::seconds(t), f);
    }
    return kStart + pt::seconds(t);
  };
  zel::SessionReport atTheEnd;
  const pt::ptime last = fill(atTheEnd);
  zel::SessionReport asTheyCome;
  int asked = 0;
  asTheyCome.SetLastRound([&](unsigned dataId) -> std::optional<pt::ptime> {
    ++asked;
    EXPECT_EQ(dataId, 100u);
    return last;
  });
  fill(asTheyCome);
  EXPECT_EQ(asked, 1);
  const Json::Value s = SessionOf(asTheyCome);
  const Json::Value& gaps = s["units"][0]["gaps"];
  ASSERT_EQ(gaps.size(), 2u);
  EXPECT_EQ(gaps[0][1].asInt64() - gaps[0][0].asInt64(), 600);
  EXPECT_GT(s["units"][0]["thinned"].asUInt(), 1u);
  EXPECT_EQ(s, SessionOf(atTheEnd));
}

TEST(SessionReport, AnEmptyHistoryStillGivesAPage) {
  zel::SessionReport report;
  const Json::Value s = SessionOf(report);
  EXPECT_TRUE(s["units"].empty());
  EXPECT_TRUE(s["alarms"].empty());
  EXPECT_TRUE(s["first"].isNull());
}

}  // namespace

// Text from the line as a terminal shows it and as the page's data carries it: the boundaries
// of UTF-8 (overlong forms, surrogates, above U+10FFFF, cut sequences) decide what is escaped.
TEST(TextFromTheLine, TerminalAndScriptForms) {
  const struct {
    std::string text;
    std::string terminal;
    std::string script;
  } rows[] = {
      {"直流5电池熔丝故障告警\t\n", "直流5电池熔丝故障告警\t\n", "直流5电池熔丝故障告警\t\n"},
      {"\x1b[2J\r\x7f", "\\x1b[2J\\r\\x7f", "\x1b[2J\r\x7f"},
      {std::string("a\0b", 3), "a\\x00b", std::string("a\0b", 3)},
      {"</script><!--&>", "</script><!--&>", "\\u003c/script\\u003e\\u003c!--\\u0026\\u003e"},
      {"\xE2\x80\xA8\xE2\x80\xA9", "\xE2\x80\xA8\xE2\x80\xA9", "\\u2028\\u2029"},
      {"\xC0\x80", "\\xc0\\x80", "\\ufffd\\ufffd"},                                  // overlong NUL
      {"\xED\xA0\x80", "\\xed\\xa0\\x80", "\\ufffd\\ufffd\\ufffd"},                  // a surrogate
      {"\xF4\x90\x80\x80", "\\xf4\\x90\\x80\\x80", "\\ufffd\\ufffd\\ufffd\\ufffd"},  // > U+10FFFF
      {"\xF0\x9F\x94\x8B", "\xF0\x9F\x94\x8B", "\xF0\x9F\x94\x8B"},                  // U+1F50B
      {"\xE7\x9B", "\\xe7\\x9b", "\\ufffd\\ufffd"},  // cut at the end
      {"\xE7"
       "a",
       "\\xe7a", "\\ufffda"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(zel::ForTerminal(row.text), row.terminal) << row.text;
    EXPECT_EQ(zel::ForScript(row.text), row.script) << row.text;
  }
}
