#pragma once

// A history database read back: its saved images and alarm events over a range, oldest first.
//
// Interface kept for the export and the session report:
//   HistoryRange{dataId, from, to}; HistoryReader(path).Images(range, fn(SavedImage)),
//   .Alarms(range, fn(AlarmRecord)); NormalTime(text). Times are the history's own text,
//   2026-01-01T00:00:02; `from` counts in, `to` does not; the data id filters images by their
//   data id and alarms by their device.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "History.h"

struct sqlite3;

namespace zel {

struct HistoryRange {
  std::optional<unsigned int> dataId;
  std::string from;  // empty: from the first
  std::string to;    // empty: to the last
};

struct SavedImage {
  int64_t row = 0;  // the history table's id
  unsigned int dataId = 0;
  std::string time;
  std::vector<uint8_t> image;
};

class HistoryReader {
 public:
  // Opens the database read-only, in one read transaction: every read sees the history as it
  // was at the first, while a session goes on writing. Throws std::runtime_error when it does
  // not open or is not a history.
  explicit HistoryReader(const std::string& path);
  ~HistoryReader();
  HistoryReader(const HistoryReader&) = delete;
  HistoryReader& operator=(const HistoryReader&) = delete;

  void Images(const HistoryRange& range, const std::function<void(const SavedImage&)>& fn);
  // The newest image of the range that `accept` takes, looking back from the newest.
  std::optional<SavedImage> LastImage(const HistoryRange& range,
                                      const std::function<bool(const SavedImage&)>& accept);
  // The times of the first and the last image the history holds; none when it holds none.
  std::optional<std::pair<std::string, std::string>> Held();
  // A history written before alarms were kept has none.
  void Alarms(const HistoryRange& range, const std::function<void(const AlarmRecord&)>& fn);

 private:
  std::string path_;
  sqlite3* db_ = nullptr;
  bool hasAlarms_ = false;
};

// "2026-01-01", "2026-01-01T10:00", "2026-01-01 10:00:05" as the history writes times
// ("2026-01-01T10:00:05"); throws std::invalid_argument for anything else.
std::string NormalTime(const std::string& text);

}  // namespace zel
