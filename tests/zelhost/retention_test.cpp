// The history kept to its last days: a session of three spans with --keep-days of one span, on
// the replay's virtual clock; a database made before auto_vacuum; a long replay in the memory
// of a short one.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "Sanitizers.h"
#include "ZelhostRun.h"

namespace {

using namespace zelhost_test;

// 0.005 days: 432 s, 216 rounds of 2 s.
const char kKeepDays[] = "0.005";
constexpr long kSpanS = 432;
constexpr int kSpanRounds = 216;

// The fixture's first round, then its second round again and again with the AC unit's alarm
// states of each round: channel 1 and channel 2 voltage a low (AC_0/1 and AC_0/12) or not.
struct Replies {
  std::string text;
  // The model query and a full round.
  void FirstRound(bool channel1 = false, bool channel2 = false) {
    const auto replies = FixtureReplies();
    for (size_t k = 0; k < 11; ++k)
      text += (k == 3 ? States(channel1, channel2) : replies[k]) + "\n";
  }
  void Round(bool channel1, bool channel2) {
    const auto replies = FixtureReplies();
    for (size_t k = 11; k < replies.size(); ++k)
      text += (k == 12 ? States(channel1, channel2) : replies[k]) + "\n";
  }
  // 01 | 01 02 | per channel: a b c f | m 00 | p 08 | 8 user states | ia ib ic
  static std::string States(bool channel1, bool channel2) {
    auto channel = [](bool low) {
      return std::string(low ? "01" : "00") + "00000000080000000000000000";
    };
    return "40 010102" + channel(channel1) + channel(channel2) + "000000";
  }
};

struct Held {
  std::vector<std::string> imageTimes;  // oldest first
  std::vector<std::string> alarms;      // "time rule/seq state", oldest first
  int64_t autoVacuum = -1;
  std::string integrity;
};

Held Inspect(const std::string& db) {
  Held out;
  sqlite3* h = nullptr;
  EXPECT_EQ(sqlite3_open_v2(db.c_str(), &h, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  auto each = [&](const char* sql, auto fn) {
    sqlite3_stmt* s = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(h, sql, -1, &s, nullptr), SQLITE_OK) << sqlite3_errmsg(h);
    while (sqlite3_step(s) == SQLITE_ROW) fn(s);
    sqlite3_finalize(s);
  };
  auto text = [](sqlite3_stmt* s, int k) {
    return std::string(reinterpret_cast<const char*>(sqlite3_column_text(s, k)));
  };
  each("SELECT time FROM history ORDER BY id",
       [&](sqlite3_stmt* s) { out.imageTimes.push_back(text(s, 0)); });
  each("SELECT time, rule_id, seq, state FROM alarms ORDER BY id", [&](sqlite3_stmt* s) {
    out.alarms.push_back(text(s, 0) + " " + text(s, 1) + "/" + text(s, 2) + " " + text(s, 3));
  });
  each("PRAGMA auto_vacuum", [&](sqlite3_stmt* s) { out.autoVacuum = sqlite3_column_int64(s, 0); });
  each("PRAGMA integrity_check", [&](sqlite3_stmt* s) { out.integrity += text(s, 0); });
  sqlite3_close(h);
  return out;
}

long FileSize(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

// The replay clock's time after this many seconds, as the history writes it.
std::string At(long seconds) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "2026-01-01T%02ld:%02ld:%02ld", seconds / 3600, seconds / 60 % 60,
                seconds % 60);
  return buf;
}

TEST_F(ZelhostTest, KeepDaysHoldsOneSpanOfImagesAndAlarmsInAFileThatStopsGrowing) {
  const std::string db = dir + "kept.db";
  // Three sessions of one span each, the clock going on from one to the next. Channel 2 goes
  // low and back in the first rounds, then stays low to the end: the newest event of an
  // alarm still active. Channel 1 goes low and back in the first span and in the last.
  std::vector<long> sizes;
  for (int span = 0; span < 3; ++span) {
    // Round r at the clock's second 2 r.
    auto channel1 = [](int r) {
      return (r >= 20 && r < 30) || (r >= 2 * kSpanRounds + 50 && r < 2 * kSpanRounds + 60);
    };
    auto channel2 = [](int r) { return (r >= 1 && r < 4) || r >= 9; };
    Replies r;
    if (span > 0) r.text += "+" + std::to_string(span * kSpanS) + "\n";
    const int first = span * kSpanRounds;
    r.FirstRound(channel1(first), channel2(first));
    for (int k = first + 1; k < first + kSpanRounds; ++k) r.Round(channel1(k), channel2(k));
    WriteFile(dir + "span.replay", r.text);
    const std::string events = span < 2 ? " --events /dev/null" : "";
    const Result run = Zelhost("--config '" + Config() + "' --replay '" + dir + "span.replay' " +
                               "--history '" + db + "' --keep-days " + kKeepDays + events);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err.find("will not shrink"), std::string::npos) << run.err;
    sizes.push_back(FileSize(db));
    if (span == 2) {
      // The summary's head says what the history held when the session started.
      const std::string out = ReadFile(dir + "stdout");
      EXPECT_EQ(out.substr(0, out.find('\n')), "history " + db + ": rounds kept from " +
                                                   At(kSpanS - 2) + " to " + At(2 * kSpanS - 2) +
                                                   ", keeping the last 0.005 days");
    }
  }

  const Held held = Inspect(db);
  EXPECT_EQ(held.integrity, "ok");
  EXPECT_EQ(held.autoVacuum, 2);  // INCREMENTAL, set when the file was made
  ASSERT_FALSE(held.imageTimes.empty());
  const long last = 3 * kSpanS - 2;
  EXPECT_EQ(held.imageTimes.back(), At(last));
  // One span of images: three units a round, from the round keepDays before the last on; at
  // most one commit's rows (a round's) older than that.
  EXPECT_GE(held.imageTimes.front(), At(last - kSpanS - 2));
  EXPECT_LE(held.imageTimes.size(), 3u * (kSpanRounds + 2));
  EXPECT_GE(held.imageTimes.size(), 3u * kSpanRounds);
  EXPECT_EQ(held.alarms,
            (std::vector<std::string>{At(18) + " AC_0/12 raised",  // the newest, still active
                                      At(2 * (2 * kSpanRounds + 50)) + " AC_0/1 raised",
                                      At(2 * (2 * kSpanRounds + 60)) + " AC_0/1 cleared"}));
  // The file holds one span after the first and stays that size: freed pages are used again.
  std::printf("history file after each span: %ld, %ld, %ld bytes\n", sizes[0], sizes[1], sizes[2]);
  EXPECT_LE(sizes[1], sizes[0] + sizes[0] / 10);
  EXPECT_LE(sizes[2], sizes[0] + sizes[0] / 10);
}

TEST_F(ZelhostTest, ADatabaseMadeWithoutAutoVacuumKeepsWorkingUnderKeepDays) {
  // The tables as a history had them before auto_vacuum, with rows from a month before.
  const std::string db = dir + "old.db";
  sqlite3* h = nullptr;
  ASSERT_EQ(sqlite3_open(db.c_str(), &h), SQLITE_OK);
  const char* made =
      "CREATE TABLE history (id INTEGER PRIMARY KEY AUTOINCREMENT, data_id INTEGER NOT NULL,"
      " time TEXT NOT NULL, image BLOB NOT NULL);"
      "CREATE INDEX history_by_device ON history (data_id, id);"
      "CREATE TABLE alarms (id INTEGER PRIMARY KEY AUTOINCREMENT, device INTEGER NOT NULL,"
      " rule_id TEXT NOT NULL, seq INTEGER NOT NULL, code TEXT NOT NULL, name TEXT NOT NULL,"
      " text TEXT NOT NULL, level INTEGER NOT NULL, state TEXT NOT NULL, time TEXT NOT NULL);"
      "CREATE INDEX alarms_by_rule ON alarms (device, rule_id, seq, id);"
      "WITH RECURSIVE n(k) AS (SELECT 1 UNION ALL SELECT k + 1 FROM n WHERE k < 300)"
      " INSERT INTO history (data_id, time, image) SELECT 11, '2025-12-01T00:00:00', x'00' FROM n;"
      "INSERT INTO alarms (device, rule_id, seq, code, name, text, level, state, time) VALUES"
      " (11, 'AC_0', 1, 'c', 'n', 't', 3, 'raised', '2025-12-01T00:00:00'),"
      " (11, 'AC_0', 1, 'c', 'n', 't', 3, 'cleared', '2025-12-01T00:00:02'),"
      " (11, 'AC_0', 99, 'c', 'n', 't', 3, 'raised', '2025-12-01T00:00:04');";
  ASSERT_EQ(sqlite3_exec(h, made, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(h);
  sqlite3_close(h);
  ASSERT_EQ(Inspect(db).autoVacuum, 0);

  // "keep_days" from the configuration this time: ten rounds delete the month-old rows.
  Replies r;
  r.FirstRound();
  for (int k = 0; k < 9; ++k) r.Round(false, false);
  WriteFile(dir + "ten.replay", r.text);
  const Result run = Zelhost("--config '" + Config("", "\"keep_days\": 0.25,") + "' --replay '" +
                             dir + "ten.replay' --history '" + db + "' --events /dev/null");
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string says = "zelhost: history " + db +
                           " was made without auto_vacuum: old rows are deleted and their pages "
                           "reused, but the file will not shrink\n";
  EXPECT_NE(run.err.find(says), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find(says), run.err.rfind(says)) << "said more than once";

  const Held held = Inspect(db);
  EXPECT_EQ(held.integrity, "ok");
  EXPECT_EQ(held.autoVacuum, 0);
  EXPECT_EQ(held.imageTimes.size(), 30u);  // the session's own rounds only
  EXPECT_EQ(held.imageTimes.front(), At(0));
  EXPECT_EQ(held.alarms, std::vector<std::string>{"2025-12-01T00:00:04 AC_0/99 raised"});

  const struct {
    std::string top;
    std::string args;
  } mistakes[] = {{"\"keep_days\": \"7\",", ""}, {"\"keep_days\": 0,", ""}, {"", "--keep-days -1"}};
  for (const auto& m : mistakes) {
    const Result bad = Zelhost("--config '" + Config("", m.top) + "' --replay '" + dir +
                               "ten.replay' --history '" + db + "' " + m.args);
    EXPECT_NE(bad.status, 0) << m.top << m.args;
    EXPECT_NE(bad.err.find("keep"), std::string::npos) << bad.err;
  }
}

TEST_F(ZelhostTest, ALongReplayPeaksAtTheMemoryOfAShortOne) {
  if (kUnderAddressSanitizer) GTEST_SKIP() << "peak memory means nothing under ASan's quarantine";
  auto peak = [&](int rounds) {
    Replies r;
    r.FirstRound();
    for (int k = 1; k < rounds; ++k) r.Round(k % 50 == 0, false);
    WriteFile(dir + "replay.txt", r.text);
    const auto [status, kib] = ZelhostPeak("--config '" + Config() + "' --replay '" + dir +
                                           "replay.txt' --events '" + dir + "events.jsonl'");
    EXPECT_EQ(status, 0) << ReadFile(dir + "stderr");
    return kib;
  };
  // Both raise and clear alarms, so that the short one runs every path of the long one (under
  // emulation, code run for the first time takes memory too).
  const long shortPeak = peak(400);
  const long longPeak = peak(4000);
  std::printf("peak memory of a replay of 400 rounds: %ld KiB, of 4000 rounds: %ld KiB\n",
              shortPeak, longPeak);
  // Read whole, the long file alone (24 000 replies) would add some 5 MB.
  EXPECT_LE(longPeak, shortPeak + 1536);
}

}  // namespace
