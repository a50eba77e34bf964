#include "History.h"

namespace zel {

void MemoryHistory::Append(unsigned int device, boost::posix_time::ptime,
                           const std::vector<unsigned char>& image) {
  std::lock_guard<std::mutex> lock(mutex_);
  images_[device].push_back(image);
}

std::optional<std::vector<unsigned char>> MemoryHistory::Newest(unsigned int device) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = images_.find(device);
  if (it == images_.end() || it->second.empty()) return std::nullopt;
  return it->second.back();
}

size_t MemoryHistory::Count(unsigned int device) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = images_.find(device);
  return it == images_.end() ? 0 : it->second.size();
}

}  // namespace zel
