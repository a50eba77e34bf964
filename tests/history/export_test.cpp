// A history database read back over a range: the export's CSV quoting, and the range's bounds
// as the export and the session report take them.
#include <gtest/gtest.h>
#include <json/reader.h>
#include <stdlib.h>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Export.h"
#include "HistoryReader.h"
#include "ReportFile.h"
#include "SessionData.h"
#include "SqliteHistory.h"

namespace {

namespace pt = boost::posix_time;

const pt::ptime kDay(boost::gregorian::date(2026, 1, 1));

// Alarm texts carry the power system's bytes (the model alarm quotes its model field).
const struct {
  const char* what;
  const char* text;
  const char* exported;
} kTexts[] = {
    {"plain", "model:X", "model:X"},
    {"line feed", "model:X\nY", "\"model:X\nY\""},
    {"carriage return", "model:X\rY", "\"model:X\rY\""},
    {"quotes", "model:\"X\"", "\"model:\"\"X\"\"\""},
    {"comma", "model:X,Y", "\"model:X,Y\""},
};

// A DC unit's images at 00:01:00, 00:01:02 and 00:01:04; an alarm raised the evening before and
// still active; an alarm event per text of kTexts at 00:01:01.
class HistoryRangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "history_range_XXXXXX";
    ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
    dir = pattern + "/";
    db = dir + "history.db";
    zel::SqliteHistory history(db);
    std::vector<unsigned char> image(166);
    image[0] = 21;  // data_id
    for (int s : {60, 62, 64}) history.Append(21, kDay + pt::seconds(s), image);
    history.AppendAlarm(Alarm("before", "fuse", kDay - pt::hours(1)));
    uint32_t seq = 0;
    for (const auto& t : kTexts) {
      zel::AlarmRecord a = Alarm("model", t.text, kDay + pt::seconds(61));
      a.seq = ++seq;
      history.AppendAlarm(a);
    }
    history.Commit();
  }
  void TearDown() override {
    if (!HasFailure()) std::system(("rm -rf '" + dir + "'").c_str());
  }

  static zel::AlarmRecord Alarm(const std::string& rule, const std::string& text, pt::ptime at) {
    zel::AlarmRecord a;
    a.device = 21;
    a.ruleId = rule;
    a.code = "06015";
    a.name = "name";
    a.text = text;
    a.level = 2;
    a.raised = true;
    a.time = pt::to_iso_extended_string(at);
    return a;
  }

  static zel::HistoryRange Range(const std::string& from, const std::string& to) {
    zel::HistoryRange range;
    if (!from.empty()) range.from = zel::NormalTime(from);
    if (!to.empty()) range.to = zel::NormalTime(to);
    return range;
  }

  std::string Exported(const std::string& format, const zel::HistoryRange& range) {
    std::ostringstream out;
    zel::Export(db, format, range, out);
    return out.str();
  }

  // The session data of the report of a range.
  Json::Value Report(const zel::HistoryRange& range) {
    zel::WriteReport(db, range, dir + "report.html");
    std::ifstream in(dir + "report.html");
    const std::string page((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return SessionDataOf(page);
  }

  std::string dir;
  std::string db;
};

int64_t Epoch(pt::ptime t) {
  return (t - pt::ptime(boost::gregorian::date(1970, 1, 1))).total_seconds();
}

TEST_F(HistoryRangeTest, AlarmTextsExportUnderCsvQuoting) {
  std::string expected =
      "time,device,rule_id,seq,code,name,text,level,state\n"
      "2025-12-31T23:00:00,21,before,0,06015,name,fuse,2,raised\n";
  uint32_t seq = 0;
  for (const auto& t : kTexts)
    expected += "2026-01-01T00:01:01,21,model," + std::to_string(++seq) + ",06015,name," +
                t.exported + ",2,raised\n";
  EXPECT_EQ(Exported("alarms", {}), expected);
}

TEST_F(HistoryRangeTest, BothBoundsKeepTheImagesBetweenThem) {
  const struct {
    const char* from;
    const char* to;
    std::vector<std::string> times;
  } cases[] = {
      {"2026-01-01 00:01:01", "2026-01-01 00:01:03", {"2026-01-01T00:01:02"}},
      {"2026-01-01T00:01:02", "2026-01-01T00:01:04", {"2026-01-01T00:01:02"}},  // from in, to out
      {"2026-01-01 00:01:01", "", {"2026-01-01T00:01:02", "2026-01-01T00:01:04"}},
      {"", "2026-01-01 00:01:03", {"2026-01-01T00:01:00", "2026-01-01T00:01:02"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.from) + " to " + c.to);
    const zel::HistoryRange range = Range(c.from, c.to);
    std::vector<std::string> times;
    std::istringstream csv(Exported("csv", range));
    std::string line;
    std::getline(csv, line);  // the header
    while (std::getline(csv, line)) times.push_back(line.substr(0, line.find(',')));
    EXPECT_EQ(times, c.times);
    const Json::Value s = Report(range);
    EXPECT_EQ(s["rounds"].asUInt(), c.times.size());
    EXPECT_EQ(s["first_round"].asInt64(), Epoch(pt::from_iso_extended_string(c.times.front())));
    EXPECT_EQ(s["last_round"].asInt64(), Epoch(pt::from_iso_extended_string(c.times.back())));
  }
}

TEST_F(HistoryRangeTest, ADateAloneAsABoundIsItsMidnight) {
  const Json::Value s = Report(Range("2026-01-01", ""));
  EXPECT_EQ(s["from"].asString(), "2026-01-01T00:00:00");
  ASSERT_GE(s["alarms"].size(), 1u);
  const Json::Value& before = s["alarms"][0];
  ASSERT_EQ(before["rule_id"].asString(), "before");
  ASSERT_EQ(before["bars"].size(), 1u);
  EXPECT_EQ(before["bars"][0][0].asInt64(), Epoch(kDay));  // not at the first round, 00:01:00
  EXPECT_TRUE(before["bars"][0][1].isNull());              // still active
  EXPECT_EQ(s["rounds"].asUInt(), 3u);
}

}  // namespace
