#pragma once

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <mutex>
#include <optional>
#include <string>

#include "History.h"

struct sqlite3;

namespace zel {

// Saved record images and alarm events in a SQLite database; ":memory:" keeps them in memory.
// Tables history(id, data_id, time, image) and alarms(id, device, rule_id, seq, code, name,
// text, level, state, time). Written ahead (WAL, synchronous=NORMAL) in one transaction per
// round: a power cut loses at most the round being written and never damages the file.
//
// With keepDays, each commit also deletes up to kPruneRows images and kPruneRows alarm events
// older than keepDays before the newest image saved (the newest event of an alarm still raised
// stays, so that a restart knows it), and gives back up to kVacuumPages freed pages: a database
// is created with auto_vacuum=INCREMENTAL, so its file stops growing once it holds keepDays.
class SqliteHistory : public HistoryStore {
 public:
  static constexpr int kPruneRows = 120;
  static constexpr int kVacuumPages = 32;

  // Throws std::runtime_error naming the database and what is wrong with it.
  explicit SqliteHistory(const std::string& path, std::optional<double> keepDays = std::nullopt);
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

  // The times of the first and the last image kept (by the order they were saved); none when
  // the history holds no image.
  std::optional<std::pair<std::string, std::string>> Held();

 private:
  void Prune();

  // Runs a write inside the round's transaction; a failure is reported, never thrown: saves
  // come from work items, and a full disk must end only this save, not the program.
  template <typename Fn>
  void Write(Fn fn);

  std::mutex mutex_;
  std::string path_;
  sqlite3* db_ = nullptr;
  bool inRound_ = false;
  std::optional<double> keepDays_;
  bool shrinks_ = false;  // auto_vacuum=INCREMENTAL: freed pages are given back to the system
  boost::posix_time::ptime newest_;  // of the images appended
};

}  // namespace zel
