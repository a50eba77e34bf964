#pragma once

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

namespace zel {

// Where saved record images go, newest last per data id.
class HistoryStore {
 public:
  virtual ~HistoryStore() = default;
  virtual void Append(unsigned int device, boost::posix_time::ptime when,
                      const std::vector<unsigned char>& image) = 0;
  virtual std::optional<std::vector<unsigned char>> Newest(unsigned int device) = 0;
  virtual size_t Count(unsigned int device) = 0;
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
