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

class MemoryHistory : public HistoryStore {
 public:
  void Append(unsigned int device, boost::posix_time::ptime,
              const std::vector<unsigned char>& image) override;
  std::optional<std::vector<unsigned char>> Newest(unsigned int device) override;
  size_t Count(unsigned int device) override;

 private:
  std::mutex mutex_;
  std::map<unsigned int, std::vector<std::vector<unsigned char>>> images_;
};

}  // namespace zel
