#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "Link.h"

namespace zel {

// How long a line that went away, or never opened, waits before the next try to open it.
constexpr unsigned kReopenMs = 5000;

// Keeps one device's serial line for as long as the program runs. When the line reports end of
// file or an error, or does not open, it is closed and its path is opened again every reopen
// interval until it opens. The path is opened by name on every try, so that a symlink (udev's
// /dev/serial/by-id/...) follows whatever device it points at by then.
class PortKeeper {
 public:
  // All are called on the loop's thread, never from inside a call into the keeper's link.
  struct Handlers {
    // Bytes received from the line.
    std::function<void(const unsigned char* data, size_t len)> receive;
    // The line is open, at start or again: the link to write to.
    std::function<void(const std::shared_ptr<ZelLink>& link)> opened;
    // The line broke or did not open: why. Once per loss; the tries go on by themselves.
    std::function<void(const std::string& why)> lost;
    // A try that failed, with why (for the trace).
    std::function<void(const std::string& why)> retried;
  };

  PortKeeper(boost::asio::io_context& io, std::string port, unsigned baud,
             std::chrono::milliseconds reopen, Handlers handlers);
  ~PortKeeper();
  PortKeeper(const PortKeeper&) = delete;
  PortKeeper& operator=(const PortKeeper&) = delete;

  // Opens the line, or reports it lost and starts trying. Returns what can never work as it
  // stands (the program stops on it), empty otherwise: a path that exists and is not a
  // character device, a character device that is not a serial line, a simulator that does not
  // start.
  std::string Start();

 private:
  struct Attempt {
    std::shared_ptr<ZelLink> link;  // open, or empty
    std::string why;                // why not
    bool hopeless = false;          // no try will ever open it as it stands
  };
  Attempt Open();
  void Broke(uint64_t generation, const std::string& why);
  void Lose(const std::string& why);
  void RetryLater();
  void Retry();

  boost::asio::io_context& io_;
  std::string port_;
  unsigned baud_;
  std::chrono::milliseconds reopen_;
  Handlers handlers_;
  boost::asio::steady_timer timer_;
  std::shared_ptr<ZelLink> link_;
  uint64_t generation_ = 0;  // of the newest link; a failure of an older one comes too late
};

}  // namespace zel
