#include "SqliteHistory.h"

#include <sqlite3.h>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <cstdio>
#include <stdexcept>

namespace zel {
namespace {

// A prepared statement that finalizes itself.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK)
      throw std::runtime_error(sqlite3_errmsg(db));
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  sqlite3_stmt* get() { return stmt_; }
  // SQLITE_ROW or SQLITE_DONE; anything else throws.
  int Step() {
    const int rc = sqlite3_step(stmt_);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db_));
    return rc;
  }

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

}  // namespace

SqliteHistory::SqliteHistory(const std::string& path) : path_(path) {
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK) {
    const std::string why = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close(db_);
    db_ = nullptr;
    throw std::runtime_error("history " + path + ": " + why);
  }
  sqlite3_busy_timeout(db_, 2000);
  char* error = nullptr;
  if (sqlite3_exec(db_,
                   "CREATE TABLE IF NOT EXISTS history ("
                   " id INTEGER PRIMARY KEY AUTOINCREMENT,"
                   " data_id INTEGER NOT NULL,"
                   " time TEXT NOT NULL,"
                   " image BLOB NOT NULL);"
                   "CREATE INDEX IF NOT EXISTS history_by_device ON history (data_id, id);",
                   nullptr, nullptr, &error) != SQLITE_OK) {
    const std::string why = error != nullptr ? error : "cannot create the history table";
    sqlite3_free(error);
    sqlite3_close(db_);
    db_ = nullptr;
    throw std::runtime_error("history " + path + ": " + why);
  }
}

SqliteHistory::~SqliteHistory() {
  sqlite3_close(db_);
}

void SqliteHistory::Append(unsigned int device, boost::posix_time::ptime when,
                           const std::vector<unsigned char>& image) {
  std::lock_guard<std::mutex> lock(mutex_);
  try {
    Statement s(db_, "INSERT INTO history (data_id, time, image) VALUES (?, ?, ?)");
    const std::string time =
        when.is_special() ? "" : boost::posix_time::to_iso_extended_string(when);
    sqlite3_bind_int64(s.get(), 1, device);
    sqlite3_bind_text(s.get(), 2, time.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_blob(s.get(), 3, image.data(), static_cast<int>(image.size()), SQLITE_TRANSIENT);
    s.Step();
  } catch (const std::exception& e) {
    // Saved from a work item: a full disk must not end the program, only this save.
    std::fprintf(stderr, "zelhost: history %s: %s\n", path_.c_str(), e.what());
  }
}

std::optional<std::vector<unsigned char>> SqliteHistory::Newest(unsigned int device) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement s(db_, "SELECT image FROM history WHERE data_id = ? ORDER BY id DESC LIMIT 1");
  sqlite3_bind_int64(s.get(), 1, device);
  if (s.Step() != SQLITE_ROW) return std::nullopt;
  const auto* p = static_cast<const unsigned char*>(sqlite3_column_blob(s.get(), 0));
  const int n = sqlite3_column_bytes(s.get(), 0);
  return std::vector<unsigned char>(p, p + n);
}

size_t SqliteHistory::Count(unsigned int device) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement s(db_, "SELECT COUNT(*) FROM history WHERE data_id = ?");
  sqlite3_bind_int64(s.get(), 1, device);
  s.Step();
  return static_cast<size_t>(sqlite3_column_int64(s.get(), 0));
}

}  // namespace zel
