#include "PortKeeper.h"

#include <sys/stat.h>

#include <boost/asio/post.hpp>

#include "Port.h"
#include "SimPort.h"

namespace zel {

PortKeeper::PortKeeper(boost::asio::io_context& io, std::string port, unsigned baud,
                       std::chrono::milliseconds reopen, Handlers handlers)
    : io_(io),
      port_(std::move(port)),
      baud_(baud),
      reopen_(reopen),
      handlers_(std::move(handlers)),
      timer_(io) {}

PortKeeper::~PortKeeper() {
  if (link_) link_->Close();
}

std::string PortKeeper::Start() {
  struct stat st {};
  if (!sim::IsSimPort(port_) && ::stat(port_.c_str(), &st) == 0 && !S_ISCHR(st.st_mode))
    return "port " + port_ + " is not a character device";
  Attempt first = Open();
  if (first.hopeless) return "cannot open port " + port_ + ": " + first.why;
  if (!first.link) {
    // Not there yet (an adapter plugged in later) or not ours yet: tried again.
    Lose("cannot open port " + port_ + ": " + first.why);
    return "";
  }
  link_ = first.link;
  if (handlers_.opened) handlers_.opened(link_);
  return "";
}

PortKeeper::Attempt PortKeeper::Open() {
  const uint64_t generation = ++generation_;
  LinkContext context{io_, baud_, handlers_.receive, {}};
  // A write fails inside the device's call: the loss is handled once that call has returned.
  context.fail = [this, generation](const std::string& why) {
    boost::asio::post(io_, [this, generation, why] { Broke(generation, why); });
  };
  // "sim" and "sim:FILE": the simulator on a pty pair, whose other end is opened as a serial line.
  LinkResult opened =
      sim::IsSimPort(port_) ? sim::OpenSimPort(port_, context) : OpenLink(port_, context);
  Attempt attempt;
  attempt.link = std::move(opened.link);
  attempt.why = opened.error;
  // A simulator that does not start is a mistake in its scenario; a character device that
  // takes no terminal settings is no serial line.
  attempt.hopeless =
      !attempt.link && (sim::IsSimPort(port_) ||
                        opened.code == boost::system::errc::inappropriate_io_control_operation);
  return attempt;
}

void PortKeeper::Broke(uint64_t generation, const std::string& why) {
  if (generation != generation_ || !link_) return;  // a second report of the same loss
  link_->Close();
  link_.reset();
  Lose(why);
}

void PortKeeper::Lose(const std::string& why) {
  if (handlers_.lost) handlers_.lost(why);
  RetryLater();
}

void PortKeeper::RetryLater() {
  timer_.expires_after(reopen_);
  timer_.async_wait([this](const boost::system::error_code& ec) {
    if (!ec) Retry();
  });
}

void PortKeeper::Retry() {
  Attempt again = Open();
  if (again.link) {
    link_ = again.link;
    if (handlers_.opened) handlers_.opened(link_);
    return;
  }
  if (handlers_.retried) handlers_.retried("cannot open port " + port_ + ": " + again.why);
  RetryLater();
}

}  // namespace zel
