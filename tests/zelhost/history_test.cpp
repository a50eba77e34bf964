// The history database: alarm states across a restart, the export of a session, and a session
// killed in the middle of its rounds.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "Clock.h"
#include "Controller.h"
#include "HistoryReader.h"
#include "Replay.h"
#include "SqliteHistory.h"
#include "ZelhostRun.h"

namespace {

using namespace zelhost_test;

rule_value Rule(const char* id, uint32_t seq, bool active) {
  rule_value r;
  r.id = id;
  r.seq = seq;
  r.code = "06015";
  r.name = "交流输入电压过低告警";
  r.text = std::string("text ") + id;
  r.level = 3;
  r.active = active ? 1 : 0;
  return r;
}

// "device id/seq raised" for each alarm event the controller wrote.
std::vector<std::string> AlarmEvents(const zel::Controller& c) {
  std::vector<std::string> out;
  for (const zel::Event& e : c.Journal(zel::Event::Kind::Alarm))
    out.push_back(std::to_string(e.device) + " " + e.id + "/" + std::to_string(e.seq) +
                  (e.raised ? " raised" : " cleared"));
  return out;
}

std::vector<std::string> SavedAlarms(const std::string& db) {
  std::vector<std::string> out;
  zel::HistoryReader(db).Alarms({}, [&](const zel::AlarmRecord& a) {
    out.push_back(a.time + " " + std::to_string(a.device) + " " + a.ruleId + "/" +
                  std::to_string(a.seq) + " " + a.code + " " + a.name + " " + a.text + " " +
                  std::to_string(a.level) + (a.raised ? " raised" : " cleared"));
  });
  return out;
}

TEST_F(ZelhostTest, AlarmStatesOutliveARestart) {
  const std::string db = dir + "alarms.db";
  zel::HostClock::UseVirtual(zel::kReplayStart);
  {
    zel::Controller c(zel::Controller::Work::Inline, std::make_shared<zel::SqliteHistory>(db));
    c.EvaluateRules(11, {Rule("AC_0", 1, true), Rule("AC_0", 2, true)});
    zel::HostClock::Advance(2);
    c.EvaluateRules(11, {Rule("AC_0", 1, true), Rule("AC_0", 2, false)});
    c.History().Commit();
    EXPECT_EQ(AlarmEvents(c), (std::vector<std::string>{"11 AC_0/1 raised", "11 AC_0/2 raised",
                                                        "11 AC_0/2 cleared"}));
  }
  zel::HostClock::Advance(2);
  zel::Controller c(zel::Controller::Work::Inline, std::make_shared<zel::SqliteHistory>(db));
  // AC_0/1 is active in the history and still active: not raised again; AC_0/2 stays cleared.
  c.EvaluateRules(11, {Rule("AC_0", 1, true), Rule("AC_0", 2, false)});
  EXPECT_EQ(AlarmEvents(c), std::vector<std::string>{});
  c.EvaluateRules(11, {Rule("AC_0", 1, false), Rule("AC_0", 2, false)});
  c.History().Commit();
  EXPECT_EQ(AlarmEvents(c), std::vector<std::string>{"11 AC_0/1 cleared"});
  EXPECT_EQ(SavedAlarms(db),
            (std::vector<std::string>{
                "2026-01-01T00:00:00 11 AC_0/1 06015 交流输入电压过低告警 text AC_0 3 raised",
                "2026-01-01T00:00:00 11 AC_0/2 06015 交流输入电压过低告警 text AC_0 3 raised",
                "2026-01-01T00:00:02 11 AC_0/2 06015 交流输入电压过低告警 text AC_0 3 cleared",
                "2026-01-01T00:00:04 11 AC_0/1 06015 交流输入电压过低告警 text AC_0 3 cleared"}));
}

TEST_F(ZelhostTest, ATwoRoundHistoryExportsAsCsvAndJsonl) {
  const std::string db = dir + "history.db";
  WriteFile(dir + "replay.txt", ReadFile(std::string(ZELHOST_DATA) + "/two_rounds.replay"));
  const Result run = Zelhost("--config '" + Config() + "' --replay '" + dir +
                             "replay.txt' --history '" + db + "'");
  ASSERT_EQ(run.status, 0) << run.err;

  auto exported = [&](const std::string& args) {
    const Result r = Zelhost("--history '" + db + "' --export " + args);
    EXPECT_EQ(r.status, 0) << args << ": " << r.err;
    return ReadFile(dir + "stdout");
  };
  EXPECT_EQ(exported("csv"), ReadFile(std::string(ZELHOST_DATA) + "/two_rounds.csv"));
  const std::string jsonl = ReadFile(std::string(ZELHOST_DATA) + "/two_rounds.jsonl");
  EXPECT_EQ(exported("jsonl"), jsonl);
  const std::vector<std::string> lines = FileLines(std::string(ZELHOST_DATA) + "/two_rounds.jsonl");
  ASSERT_EQ(lines.size(), 6u);  // AC, DC and rectifier, twice
  // A range: one data id, from a time on; up to a time, not including it.
  EXPECT_EQ(exported("jsonl --data-id 21 --from '2026-01-01 00:00:01'"), lines[4] + "\n");
  EXPECT_EQ(exported("jsonl --to 2026-01-01T00:00:02"),
            lines[0] + "\n" + lines[1] + "\n" + lines[2] + "\n");
  EXPECT_EQ(exported("alarms"),
            "time,device,rule_id,seq,code,name,text,level,state\n"
            "2026-01-01T00:00:02,11,AC_0,12,06015,交流输入电压过低告警,"
            "交流屏2输入线/相电压AB/A,3,raised\n");

  const struct {
    std::string args;
    std::string says;
  } mistakes[] = {
      {"--export csv", "--export needs the database: --history DB"},
      {"--history '" + dir + "none.db' --export csv", "history " + dir + "none.db: "},
      {"--history '" + db + "' --export csv --from yesterday", "time \"yesterday\" is not"},
      {"--history '" + db + "' --export xml", "--export"},
      {"--from 2026-01-01", "--from requires --export or --report"},
      {"--report '" + dir + "r.html'", "--report needs the database: --history DB"},
      {"--history '" + db + "' --report '" + dir + "no-such-dir/r.html'",
       "cannot write the report " + dir + "no-such-dir/r.html"},
      {"--history '" + db + "' --export csv --report '" + dir + "r.html'", "excludes"},
  };
  for (const auto& m : mistakes) {
    const Result r = Zelhost(m.args);
    EXPECT_NE(r.status, 0) << m.args;
    EXPECT_NE(r.err.find(m.says), std::string::npos) << m.args << ": " << r.err;
  }
}

// --from and --to on one command line: images at 0, 2 and 4 s, the one at 2 s alone.
TEST_F(ZelhostTest, BothBoundsTogetherKeepTheImagesBetweenThem) {
  const std::string db = dir + "three.db";
  {
    zel::SqliteHistory history(db);
    std::vector<unsigned char> image(166);  // a DC unit's
    image[0] = 21;
    for (int s : {0, 2, 4})
      history.Append(21, zel::kReplayStart + boost::posix_time::seconds(s), image);
    history.Commit();
  }
  const std::string range = " --from '2026-01-01 00:00:01' --to '2026-01-01 00:00:03'";
  const struct {
    std::string args;
    std::string says;  // in the one line of standard output
  } cases[] = {
      {"--export jsonl", "\"time\":\"2026-01-01T00:00:02\""},
      {"--report '" + dir + "r.html'", dir + "r.html: 1 images, "},
  };
  for (const auto& c : cases) {
    const Result r = Zelhost("--history '" + db + "' " + c.args + range);
    ASSERT_EQ(r.status, 0) << c.args << ": " << r.err;
    const std::vector<std::string> out = FileLines(dir + "stdout");
    ASSERT_EQ(out.size(), 1u) << c.args << ": " << ReadFile(dir + "stdout");
    EXPECT_NE(out[0].find(c.says), std::string::npos) << out[0];
  }
}

// The rounds of each data id in a database; whether it passes its integrity check; its journal.
struct Saved {
  std::string integrity;
  std::string journal;
  std::vector<std::pair<int64_t, int64_t>> perDevice;  // data id, images
};

Saved Inspect(const std::string& db) {
  Saved out;
  sqlite3* h = nullptr;
  EXPECT_EQ(sqlite3_open_v2(db.c_str(), &h, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
  auto each = [&](const char* sql, auto fn) {
    sqlite3_stmt* s = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(h, sql, -1, &s, nullptr), SQLITE_OK) << sqlite3_errmsg(h);
    while (sqlite3_step(s) == SQLITE_ROW) fn(s);
    sqlite3_finalize(s);
  };
  each("PRAGMA integrity_check", [&](sqlite3_stmt* s) {
    out.integrity += reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
  });
  each("PRAGMA journal_mode", [&](sqlite3_stmt* s) {
    out.journal = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
  });
  each("SELECT data_id, COUNT(*) FROM history GROUP BY data_id ORDER BY data_id",
       [&](sqlite3_stmt* s) {
         out.perDevice.emplace_back(sqlite3_column_int64(s, 0), sqlite3_column_int64(s, 1));
       });
  sqlite3_close(h);
  return out;
}

TEST_F(ZelhostTest, ASessionKilledMidRoundsKeepsEveryRoundButTheLast) {
  // The fixture's first round, then its second again and again: thousands of rounds.
  std::vector<std::string> replies = FixtureReplies();
  const std::vector<std::string> second(replies.begin() + 11, replies.end());
  ASSERT_EQ(second.size(), 6u);
  std::string text;
  for (const auto& l : replies) text += l + "\n";
  for (int k = 0; k < 5000; ++k)
    for (const auto& l : second) text += l + "\n";
  WriteFile(dir + "long.replay", text);
  const std::string db = dir + "killed.db";

  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const std::string cmd = std::string("exec ") + ZELHOST_PROGRAM + " --config '" + Config() +
                          "' --replay '" + dir + "long.replay' --history '" + db +
                          "' --events - 2>/dev/null";
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    close(out[1]);
    execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  // Killed as soon as it reports its third round, while it goes on writing.
  FILE* events = fdopen(out[0], "r");
  uint64_t rounds = 0;
  char line[4096];
  while (rounds < 3 && std::fgets(line, sizeof line, events) != nullptr) {
    const std::string l = line;
    if (l.find("\"event\":\"round\"") != std::string::npos) ++rounds;
  }
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  std::fclose(events);
  ASSERT_EQ(rounds, 3u) << "the session ended before its third round";
  ASSERT_TRUE(WIFSIGNALED(status)) << "the session ended before it was killed";

  const Saved saved = Inspect(db);
  EXPECT_EQ(saved.integrity, "ok");
  // Written ahead (the export reads while a session writes): a rollback journal would pass the
  // check above as well.
  EXPECT_EQ(saved.journal, "wal");
  ASSERT_EQ(saved.perDevice.size(), 3u);
  // Whole rounds only: each unit has as many images as the others, and every round reported
  // but the last is there.
  for (const auto& [id, images] : saved.perDevice) {
    EXPECT_EQ(images, saved.perDevice[0].second) << "data id " << id;
    EXPECT_GE(images, 2) << "data id " << id;
  }
}

}  // namespace
