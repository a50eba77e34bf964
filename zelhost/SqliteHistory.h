#pragma once

#include <mutex>
#include <string>

#include "History.h"

struct sqlite3;

namespace zel {

// Saved record images in a SQLite database, one row per save; ":memory:" keeps them in memory.
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

 private:
  std::mutex mutex_;
  std::string path_;
  sqlite3* db_ = nullptr;
};

}  // namespace zel
