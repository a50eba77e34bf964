#include "History.h"

#include <boost/date_time/posix_time/posix_time.hpp>

namespace zel {

std::string HistoryTime(boost::posix_time::ptime when) {
  return when.is_special() ? "" : boost::posix_time::to_iso_extended_string(when);
}

void MemoryHistory::Append(unsigned int device, boost::posix_time::ptime,
                           const std::vector<unsigned char>& image) {
  std::lock_guard<std::mutex> lock(mutex_);
  Saved& s = saved_[device];
  ++s.appended;
  if (newestOnly_) s.images.clear();
  s.images.push_back(image);
}

std::optional<std::vector<unsigned char>> MemoryHistory::Newest(unsigned int device) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = saved_.find(device);
  if (it == saved_.end() || it->second.images.empty()) return std::nullopt;
  return it->second.images.back();
}

size_t MemoryHistory::Count(unsigned int device) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = saved_.find(device);
  return it == saved_.end() ? 0 : it->second.appended;
}

}  // namespace zel
