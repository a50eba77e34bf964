#pragma once

#include <mutex>
#include <string>

#include "History.h"

struct sqlite3;

namespace zel {

// Saved record images and alarm events in a SQLite database; ":memory:" keeps them in memory.
// Tables history(id, data_id, time, image) and alarms(id, device, rule_id, seq, code, name,
// text, level, state, time). Written ahead (WAL, synchronous=NORMAL) in one transaction per
// round: a power cut loses at most the round being written and never damages the file.
class SqliteHistory : public HistoryStore {
 public:
  // Throws std::runtime_error naming the database and what is wrong with it.
  explicit SqliteHistory(const std::string& path);
  ~SqliteHistory() override;
  SqliteHistory(const SqliteHistory&) = delete;
  SqliteHistory& operator=(const SqliteHistory&) = delete;

  void Append(unsigned int device, boost::posix_time::ptime when,
              const std::vector<unsigned char>& image) override;
  std::optional<std::vector<unsigned char>> Newest(unsigned int device) override;
  size_t Count(unsigned int device) override;
  void AppendAlarm(const AlarmRecord& alarm) override;
  std::vector<AlarmRecord> LastAlarms() override;
  void Commit() override;

 private:
  // Runs a write inside the round's transaction; a failure is reported, never thrown: saves
  // come from work items, and a full disk must end only this save, not the program.
  template <typename Fn>
  void Write(Fn fn);

  std::mutex mutex_;
  std::string path_;
  sqlite3* db_ = nullptr;
  bool inRound_ = false;
};

}  // namespace zel
