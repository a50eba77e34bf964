#include "LineServer.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <set>
#include <stdexcept>
#include <system_error>

namespace sim {
namespace {

[[noreturn]] void ThrowErrno(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

void MakeRaw(int fd, speed_t speed, const std::string& what) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) ThrowErrno(what + ": tcgetattr");
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  if (speed != B0) {
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
  }
  if (tcsetattr(fd, TCSANOW, &t) != 0) ThrowErrno(what + ": tcsetattr");
}

speed_t SpeedOf(unsigned baud) {
  switch (baud) {
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
  }
  throw std::invalid_argument("unsupported line speed " + std::to_string(baud));
}

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

unsigned BaudOf(speed_t speed) {
  for (unsigned baud : {1200u, 2400u, 4800u, 9600u, 19200u, 38400u, 57600u, 115200u})
    if (SpeedOf(baud) == speed) return baud;
  return 0;
}

}  // namespace

LineServer::LineServer(Scenario scenario) {
  responders_.emplace_back(std::move(scenario));
}

LineServer::LineServer(std::vector<Scenario> scenarios) {
  std::set<unsigned> addresses;
  for (Scenario& s : scenarios) {
    const unsigned address = s.SiteAt(0).address;
    if (!addresses.insert(address).second)
      throw ScenarioError(s.Name() + ": a second power system at address " +
                          std::to_string(address));
    responders_.emplace_back(std::move(s));
  }
  if (responders_.empty()) throw ScenarioError("no scenario to serve");
}

LineServer::~LineServer() {
  Stop();
  CloseFd(fd_);
  CloseFd(heldFd_);
  CloseFd(wake_[0]);
  CloseFd(wake_[1]);
}

void LineServer::OpenPty() {
  fd_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) ThrowErrno("posix_openpt");
  if (grantpt(fd_) != 0 || unlockpt(fd_) != 0) ThrowErrno("unlockpt");
  char name[128];
  if (ptsname_r(fd_, name, sizeof name) != 0) ThrowErrno("ptsname");
  path_ = name;
  heldFd_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (heldFd_ < 0) ThrowErrno(path_);
  MakeRaw(heldFd_, B0, path_);
}

void LineServer::OpenDevice(const std::string& path, unsigned baud) {
  const speed_t speed = SpeedOf(baud);
  fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) ThrowErrno(path);
  path_ = path;
  MakeRaw(fd_, speed, path);
}

void LineServer::SetTrace(std::function<void(const std::string&)> trace) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (Responder& r : responders_) r.SetTrace(trace);
}

void LineServer::Start() {
  if (fd_ < 0) throw std::logic_error("LineServer::Start before a line is open");
  if (thread_.joinable()) return;
  if (wake_[0] < 0 && pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) ThrowErrno("pipe");
  stop_ = false;
  thread_ = std::thread([this] { Serve(); });
}

void LineServer::Stop() {
  if (!thread_.joinable()) return;
  stop_ = true;
  const char wake = 1;
  if (::write(wake_[1], &wake, 1) < 0) {
    // The pipe is full: the thread is awake already.
  }
  thread_.join();
}

unsigned LineServer::Round() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return responders_.front().Round();
}

uint64_t LineServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return responders_.front().Requests();
}

LineDamage LineServer::Damage() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return responders_.front().Damage();
}

unsigned LineServer::LineBaud() const {
  termios t{};
  if (heldFd_ < 0 || tcgetattr(heldFd_, &t) != 0) return 0;
  return BaudOf(cfgetospeed(&t));
}

// Waits for the line to have bytes; true when asked to stop.
bool LineServer::Stopping() {
  pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
  ::poll(fds, 2, -1);
  return stop_;
}

// Waits for the time given, or less when asked to stop; true when asked to stop.
bool LineServer::Pause(int ms) {
  pollfd wake{wake_[0], POLLIN, 0};
  ::poll(&wake, 1, ms);
  return stop_;
}

bool LineServer::WriteAll(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
    pollfd fds[2] = {{fd_, POLLOUT, 0}, {wake_[0], POLLIN, 0}};
    ::poll(fds, 2, 100);
    if (stop_) return false;
  }
  return true;
}

void LineServer::Serve() {
  unsigned char buf[512];
  while (!stop_) {
    if (Stopping()) break;
    const ssize_t n = ::read(fd_, buf, sizeof buf);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n <= 0) {
      // A line that went away (a hang-up, or EIO on a pty whose ends are all closed, which
      // holding the other end prevents) is tried again after a while, not spun on.
      if (Pause(50)) break;
      continue;
    }
    std::vector<Output> replies;
    {
      const unsigned baud = LineBaud();
      std::lock_guard<std::mutex> lock(mutex_);
      for (Responder& r : responders_) {
        std::vector<Output> more = r.Feed(buf, static_cast<size_t>(n), baud);
        replies.insert(replies.end(), more.begin(), more.end());
      }
    }
    for (const Output& reply : replies) {
      if (!reply.pieces.empty() && reply.holdMs > 0 && Pause(static_cast<int>(reply.holdMs)))
        return;
      for (size_t k = 0; k < reply.pieces.size(); ++k) {
        if (k > 0 && reply.delayMs > 0 && Pause(static_cast<int>(reply.delayMs))) return;
        if (!WriteAll(reply.pieces[k])) break;  // the rest of this reply is lost
      }
    }
  }
}

}  // namespace sim
