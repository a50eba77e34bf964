#include "HistoryReader.h"

#include <cctype>
#include <stdexcept>

#include "Sqlite.h"

namespace zel {

HistoryReader::HistoryReader(const std::string& path) : path_(path) {
  db_ = OpenDatabase(path, SQLITE_OPEN_READONLY);
  try {
    Statement s(db_, "SELECT name FROM sqlite_master WHERE type = 'table'");
    bool hasImages = false;
    while (s.Step() == SQLITE_ROW) {
      hasImages = hasImages || s.Text(0) == "history";
      hasAlarms_ = hasAlarms_ || s.Text(0) == "alarms";
    }
    if (!hasImages) throw std::runtime_error("no history table");
    Exec(db_, "BEGIN");
  } catch (const std::exception& e) {
    sqlite3_close(db_);
    db_ = nullptr;
    throw std::runtime_error("history " + path + ": " + e.what());
  }
}

HistoryReader::~HistoryReader() {
  sqlite3_close(db_);
}

namespace {

// The range's conditions on a key column and the time; bound from parameter 1 on.
std::string Where(const HistoryRange& range, const char* key) {
  std::string where = " WHERE 1";
  if (range.dataId) where += std::string(" AND ") + key + " = ?";
  if (!range.from.empty()) where += " AND time >= ?";
  if (!range.to.empty()) where += " AND time < ?";
  return where;
}

void BindRange(Statement& s, const HistoryRange& range) {
  int k = 1;
  if (range.dataId) s.Bind(k++, int64_t{*range.dataId});
  if (!range.from.empty()) s.Bind(k++, range.from);
  if (!range.to.empty()) s.Bind(k++, range.to);
}

// The columns id, data_id, time, image; the image's buffer is used again from row to row.
void Read(Statement& s, SavedImage& row) {
  row.row = s.Int(0);
  row.dataId = static_cast<unsigned int>(s.Int(1));
  row.time = s.Text(2);
  const auto* p = static_cast<const uint8_t*>(sqlite3_column_blob(s.get(), 3));
  row.image.assign(p, p + sqlite3_column_bytes(s.get(), 3));
}

SavedImage Row(Statement& s) {
  SavedImage row;
  Read(s, row);
  return row;
}

}  // namespace

void HistoryReader::Images(const HistoryRange& range,
                           const std::function<void(const SavedImage&)>& fn) {
  try {
    const std::string sql =
        "SELECT id, data_id, time, image FROM history" + Where(range, "data_id") + " ORDER BY id";
    Statement s(db_, sql.c_str());
    BindRange(s, range);
    SavedImage row;
    while (s.Step() == SQLITE_ROW) {
      Read(s, row);
      fn(row);
    }
  } catch (const std::runtime_error& e) {
    throw std::runtime_error("history " + path_ + ": " + e.what());
  }
}

std::optional<SavedImage> HistoryReader::LastImage(
    const HistoryRange& range, const std::function<bool(const SavedImage&)>& accept) {
  try {
    const std::string sql = "SELECT id, data_id, time, image FROM history" +
                            Where(range, "data_id") + " ORDER BY id DESC";
    Statement s(db_, sql.c_str());
    BindRange(s, range);
    while (s.Step() == SQLITE_ROW) {
      SavedImage row = Row(s);
      if (accept(row)) return row;
    }
  } catch (const std::runtime_error& e) {
    throw std::runtime_error("history " + path_ + ": " + e.what());
  }
  return std::nullopt;
}

std::optional<std::pair<std::string, std::string>> HistoryReader::Held() {
  Statement first(db_, "SELECT time FROM history ORDER BY id LIMIT 1");
  if (first.Step() != SQLITE_ROW) return std::nullopt;
  Statement last(db_, "SELECT time FROM history ORDER BY id DESC LIMIT 1");
  last.Step();
  return std::make_pair(first.Text(0), last.Text(0));
}

void HistoryReader::Alarms(const HistoryRange& range,
                           const std::function<void(const AlarmRecord&)>& fn) {
  if (!hasAlarms_) return;
  try {
    const std::string sql =
        "SELECT device, rule_id, seq, code, name, text, level, state, time FROM alarms" +
        Where(range, "device") + " ORDER BY id";
    Statement s(db_, sql.c_str());
    BindRange(s, range);
    while (s.Step() == SQLITE_ROW) fn(ReadAlarm(s));
  } catch (const std::runtime_error& e) {
    throw std::runtime_error("history " + path_ + ": " + e.what());
  }
}

std::string NormalTime(const std::string& text) {
  // YYYY-MM-DD, then optionally [T ]HH:MM, then optionally :SS
  static const char* const kShapes[] = {"dddd-dd-dd", "dddd-dd-ddTdd:dd", "dddd-dd-ddTdd:dd:dd"};
  std::string t = text;
  if (t.size() > 10 && t[10] == ' ') t[10] = 'T';
  for (const char* shape : kShapes) {
    const std::string s = shape;
    if (s.size() != t.size()) continue;
    bool fits = true;
    for (size_t k = 0; k < s.size() && fits; ++k)
      fits = s[k] == 'd' ? std::isdigit(static_cast<unsigned char>(t[k])) != 0 : s[k] == t[k];
    if (!fits) continue;
    if (t.size() == 10) return t + "T00:00:00";
    if (t.size() == 16) return t + ":00";
    return t;
  }
  throw std::invalid_argument("time \"" + text +
                              "\" is not YYYY-MM-DD, YYYY-MM-DDTHH:MM or YYYY-MM-DDTHH:MM:SS");
}

}  // namespace zel
