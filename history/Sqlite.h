#pragma once

// What the history's writer and reader share: a prepared statement that finalizes itself.
#include <sqlite3.h>

#include <stdexcept>
#include <string>

#include "History.h"

namespace zel {

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
  void Bind(int k, const std::string& text) {
    sqlite3_bind_text(stmt_, k, text.c_str(), -1, SQLITE_TRANSIENT);
  }
  void Bind(int k, int64_t n) { sqlite3_bind_int64(stmt_, k, n); }
  std::string Text(int k) {
    const unsigned char* t = sqlite3_column_text(stmt_, k);
    return t != nullptr ? reinterpret_cast<const char*>(t) : "";
  }
  int64_t Int(int k) { return sqlite3_column_int64(stmt_, k); }

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

// Opens a history database with these flags, waiting up to 2 s for a lock; throws
// std::runtime_error naming it.
inline sqlite3* OpenDatabase(const std::string& path, int flags) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    const std::string why = db != nullptr ? sqlite3_errmsg(db) : "out of memory";
    sqlite3_close(db);
    throw std::runtime_error("history " + path + ": " + why);
  }
  sqlite3_busy_timeout(db, 2000);
  return db;
}

// Runs SQL without results; throws with SQLite's message.
inline void Exec(sqlite3* db, const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    const std::string why = error != nullptr ? error : sqlite3_errmsg(db);
    sqlite3_free(error);
    throw std::runtime_error(why);
  }
}

// The alarms table's columns device, rule_id, seq, code, name, text, level, state, time, from
// column `first` on.
inline AlarmRecord ReadAlarm(Statement& s, int first = 0) {
  AlarmRecord a;
  a.device = static_cast<unsigned int>(s.Int(first));
  a.ruleId = s.Text(first + 1);
  a.seq = static_cast<uint32_t>(s.Int(first + 2));
  a.code = s.Text(first + 3);
  a.name = s.Text(first + 4);
  a.text = s.Text(first + 5);
  a.level = static_cast<int32_t>(s.Int(first + 6));
  a.raised = s.Text(first + 7) == "raised";
  a.time = s.Text(first + 8);
  return a;
}

}  // namespace zel
