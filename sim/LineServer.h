#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "Responder.h"

// Serves a scenario on a serial line: its own end of a pty pair, or a serial device. Several
// scenarios at different addresses are several power systems on one bus: each hears every
// request and answers those to its own address.
namespace sim {

class LineServer {
 public:
  explicit LineServer(Scenario scenario);
  // Throws ScenarioError when two of them start at the same address.
  explicit LineServer(std::vector<Scenario> scenarios);
  ~LineServer();
  LineServer(const LineServer&) = delete;
  LineServer& operator=(const LineServer&) = delete;

  // A pty pair. The client's end is made raw at once (or the client reads its own requests
  // echoed back) and held open here (or reads fail with EIO whenever the client closes it).
  // Throws std::system_error.
  void OpenPty();
  // A serial device, raw 8N1 at the given speed. Throws std::system_error or
  // std::invalid_argument for a speed the line does not offer.
  void OpenDevice(const std::string& path, unsigned baud);
  // Where the client connects: the pty's other end, or the device.
  const std::string& Path() const { return path_; }

  // Called on the serving thread, one line per frame. Set before Start.
  void SetTrace(std::function<void(const std::string&)> trace);
  // Serves on a thread of its own until Stop.
  void Start();
  void Stop();

  // Of the first power system.
  unsigned Round() const;
  uint64_t Requests() const;
  LineDamage Damage() const;

 private:
  void Serve();
  bool WriteAll(const std::string& bytes);
  bool Stopping();
  bool Pause(int ms);
  // The speed the master set on the pty's end; 0 on a serial device (its own speed is set).
  unsigned LineBaud() const;

  mutable std::mutex mutex_;  // the responders, between the serving thread and the callers
  std::vector<Responder> responders_;
  std::string path_;
  int fd_ = -1;
  int heldFd_ = -1;  // the pty's other end, held open
  int wake_[2] = {-1, -1};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace sim
