#pragma once

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace zel {

// The time text the history keeps: 2026-01-01T00:00:02 (empty for a time that is not one).
std::string HistoryTime(boost::posix_time::ptime when);

// One alarm event as the history keeps it.
struct AlarmRecord {
  unsigned int device = 0;
  std::string ruleId;
  uint32_t seq = 0;
  std::string code;
  std::string name;
  std::string text;
  int32_t level = 0;
  bool raised = false;
  std::string time;  // 2026-01-01T00:00:02
};

// Where saved record images go, newest last per data id, and the alarm events beside them.
class HistoryStore {
 public:
  virtual ~HistoryStore() = default;
  virtual void Append(unsigned int device, boost::posix_time::ptime when,
                      const std::vector<unsigned char>& image) = 0;
  virtual std::optional<std::vector<unsigned char>> Newest(unsigned int device) = 0;
  virtual size_t Count(unsigned int device) = 0;

  virtual void AppendAlarm(const AlarmRecord&) {}
  // The newest event of each (device, rule id, sequence), oldest first.
  virtual std::vector<AlarmRecord> LastAlarms() { return {}; }
  // Ends a round: what was appended since the last commit is kept, or lost, together.
  virtual void Commit() {}
};

// Keeps every image, or with newestOnly only the newest of each data id (a long run that must
// not grow); Count() is the number of images appended either way.
class MemoryHistory : public HistoryStore {
 public:
  explicit MemoryHistory(bool newestOnly = false) : newestOnly_(newestOnly) {}

  void Append(unsigned int device, boost::posix_time::ptime,
              const std::vector<unsigned char>& image) override;
  std::optional<std::vector<unsigned char>> Newest(unsigned int device) override;
  size_t Count(unsigned int device) override;

 private:
  std::mutex mutex_;
  struct Saved {
    size_t appended = 0;
    std::vector<std::vector<unsigned char>> images;
  };
  bool newestOnly_;
  std::map<unsigned int, Saved> saved_;
};

}  // namespace zel
