#include "SqliteHistory.h"

#include <boost/date_time/posix_time/posix_time.hpp>
#include <cstdio>
#include <stdexcept>

#include "Sqlite.h"

namespace zel {

SqliteHistory::SqliteHistory(const std::string& path, std::optional<double> keepDays)
    : path_(path), keepDays_(keepDays) {
  db_ = OpenDatabase(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  try {
    // Only a database without tables takes a new auto_vacuum mode; it must come first.
    bool created = false;
    {
      Statement s(db_, "SELECT COUNT(*) FROM sqlite_master");
      s.Step();
      created = s.Int(0) == 0;
    }
    if (created) Exec(db_, "PRAGMA auto_vacuum=INCREMENTAL");
    // WAL with NORMAL: a commit is not synced, yet a cut never leaves a damaged file.
    Exec(db_, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;");
    Exec(db_,
         "CREATE TABLE IF NOT EXISTS history ("
         " id INTEGER PRIMARY KEY AUTOINCREMENT,"
         " data_id INTEGER NOT NULL,"
         " time TEXT NOT NULL,"
         " image BLOB NOT NULL);"
         "CREATE INDEX IF NOT EXISTS history_by_device ON history (data_id, id);"
         "CREATE TABLE IF NOT EXISTS alarms ("
         " id INTEGER PRIMARY KEY AUTOINCREMENT,"
         " device INTEGER NOT NULL,"
         " rule_id TEXT NOT NULL,"
         " seq INTEGER NOT NULL,"
         " code TEXT NOT NULL,"
         " name TEXT NOT NULL,"
         " text TEXT NOT NULL,"
         " level INTEGER NOT NULL,"
         " state TEXT NOT NULL CHECK (state IN ('raised', 'cleared')),"
         " time TEXT NOT NULL);"
         "CREATE INDEX IF NOT EXISTS alarms_by_rule ON alarms (device, rule_id, seq, id);");
    // The write-ahead file of one large transaction is not kept at its largest.
    Exec(db_, "PRAGMA journal_size_limit=4194304");
    Statement mode(db_, "PRAGMA auto_vacuum");
    mode.Step();
    shrinks_ = mode.Int(0) == 2;
  } catch (const std::exception& e) {
    sqlite3_close(db_);
    db_ = nullptr;
    throw std::runtime_error("history " + path + ": " + e.what());
  }
  if (keepDays_ && !shrinks_ && path != ":memory:")
    std::fprintf(stderr,
                 "zelhost: history %s was made without auto_vacuum: old rows are deleted and "
                 "their pages reused, but the file will not shrink\n",
                 path.c_str());
}

SqliteHistory::~SqliteHistory() {
  Commit();
  sqlite3_close(db_);
}

template <typename Fn>
void SqliteHistory::Write(Fn fn) {
  std::lock_guard<std::mutex> lock(mutex_);
  try {
    if (!inRound_) {
      Exec(db_, "BEGIN");
      inRound_ = true;
    }
    fn();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zelhost: history %s: %s\n", path_.c_str(), e.what());
  }
}

void SqliteHistory::Append(unsigned int device, boost::posix_time::ptime when,
                           const std::vector<unsigned char>& image) {
  Write([&] {
    Statement s(db_, "INSERT INTO history (data_id, time, image) VALUES (?, ?, ?)");
    s.Bind(1, int64_t{device});
    s.Bind(2, HistoryTime(when));
    sqlite3_bind_blob(s.get(), 3, image.data(), static_cast<int>(image.size()), SQLITE_TRANSIENT);
    s.Step();
    if (newest_.is_special() || when > newest_) newest_ = when;
  });
}

void SqliteHistory::AppendAlarm(const AlarmRecord& a) {
  Write([&] {
    Statement s(db_,
                "INSERT INTO alarms (device, rule_id, seq, code, name, text, level, state, time)"
                " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)");
    s.Bind(1, int64_t{a.device});
    s.Bind(2, a.ruleId);
    s.Bind(3, int64_t{a.seq});
    s.Bind(4, a.code);
    s.Bind(5, a.name);
    s.Bind(6, a.text);
    s.Bind(7, int64_t{a.level});
    s.Bind(8, std::string(a.raised ? "raised" : "cleared"));
    s.Bind(9, a.time);
    s.Step();
  });
}

void SqliteHistory::Commit() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!inRound_ || db_ == nullptr) return;
  inRound_ = false;
  try {
    if (keepDays_ && !newest_.is_special()) Prune();
    Exec(db_, "COMMIT");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zelhost: history %s: %s\n", path_.c_str(), e.what());
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
}

// Inside the round's transaction. Only the oldest rows are looked at, so that a commit never
// waits on a large delete: a history made before --keep-days is cut down a little each round.
void SqliteHistory::Prune() {
  // Some 31 years or more: nothing saved is that old (and the seconds would not fit a 32-bit
  // long on the controller).
  const double keepS = *keepDays_ * 86400.0;
  if (!(keepS < 1e9)) return;
  const auto keep = boost::posix_time::seconds(static_cast<long>(keepS));
  const std::string cutoff = HistoryTime(newest_ - keep);
  {
    Statement s(db_,
                "DELETE FROM history WHERE id IN (SELECT id FROM"
                " (SELECT id, time FROM history ORDER BY id LIMIT ?) WHERE time < ?)");
    s.Bind(1, int64_t{kPruneRows});
    s.Bind(2, cutoff);
    s.Step();
  }
  {
    // The newest event of an alarm that is raised stays however old it is; those are few (one
    // per rule at most), the rest are looked at oldest first.
    Statement s(db_,
                "DELETE FROM alarms WHERE id IN (SELECT id FROM"
                " (SELECT id, time FROM alarms a WHERE NOT (a.state = 'raised' AND a.id ="
                "  (SELECT MAX(id) FROM alarms b WHERE b.device = a.device"
                "   AND b.rule_id = a.rule_id AND b.seq = a.seq))"
                "  ORDER BY id LIMIT ?) WHERE time < ?)");
    s.Bind(1, int64_t{kPruneRows});
    s.Bind(2, cutoff);
    s.Step();
  }
  if (shrinks_) {
    const std::string vacuum = "PRAGMA incremental_vacuum(" + std::to_string(kVacuumPages) + ")";
    Exec(db_, vacuum.c_str());
  }
}

std::optional<std::pair<std::string, std::string>> SqliteHistory::Held() {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement first(db_, "SELECT time FROM history ORDER BY id LIMIT 1");
  if (first.Step() != SQLITE_ROW) return std::nullopt;
  Statement last(db_, "SELECT time FROM history ORDER BY id DESC LIMIT 1");
  last.Step();
  return std::make_pair(first.Text(0), last.Text(0));
}

std::optional<std::vector<unsigned char>> SqliteHistory::Newest(unsigned int device) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement s(db_, "SELECT image FROM history WHERE data_id = ? ORDER BY id DESC LIMIT 1");
  s.Bind(1, int64_t{device});
  if (s.Step() != SQLITE_ROW) return std::nullopt;
  const auto* p = static_cast<const unsigned char*>(sqlite3_column_blob(s.get(), 0));
  const int n = sqlite3_column_bytes(s.get(), 0);
  return std::vector<unsigned char>(p, p + n);
}

size_t SqliteHistory::Count(unsigned int device) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement s(db_, "SELECT COUNT(*) FROM history WHERE data_id = ?");
  s.Bind(1, int64_t{device});
  s.Step();
  return static_cast<size_t>(s.Int(0));
}

std::vector<AlarmRecord> SqliteHistory::LastAlarms() {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement s(db_,
              "SELECT device, rule_id, seq, code, name, text, level, state, time FROM alarms"
              " WHERE id IN (SELECT MAX(id) FROM alarms GROUP BY device, rule_id, seq)"
              " ORDER BY id");
  std::vector<AlarmRecord> out;
  while (s.Step() == SQLITE_ROW) out.push_back(ReadAlarm(s));
  return out;
}

}  // namespace zel
