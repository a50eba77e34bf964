// The live driver: the devices' serial lines, their reply and gap timers and the poll.
#include <boost/asio/signal_set.hpp>
#include <chrono>
#include <csignal>
#include <cstdio>

#include "PortKeeper.h"
#include "Session.h"
#include "Text.h"

namespace zel {
namespace {

// RefreshStatus on the serial lines: often enough that a round never waits long for it; the
// device itself keeps its rounds 2 s apart.
constexpr auto kPollInterval = std::chrono::milliseconds(250);

}  // namespace

void Session::ArmReplyTimer(Polled& p) {
  const uint64_t generation = ++p.replyGeneration;
  const unsigned ms =
      p.dev->replyTimeoutMs_ + LineTimeMs(Line(*p.dev).requestBytes, p.dev->baudRate_);
  p.replyTimer->expires_after(std::chrono::milliseconds(ms));
  p.replyTimer->async_wait([this, &p, generation](const boost::system::error_code& ec) {
    if (ec || generation != p.replyGeneration) return;
    ReplyMissing(*p.dev);
    AfterLiveCall(p);
  });
}

void Session::ArmGapTimer(Polled& p) {
  const uint64_t generation = ++p.gapGeneration;
  p.gapTimer->expires_after(std::chrono::milliseconds(p.dev->gapMs_));
  p.gapTimer->async_wait([this, &p, generation](const boost::system::error_code& ec) {
    if (ec || generation != p.gapGeneration) return;
    FrameGap(*p.dev);
    AfterLiveCall(p);
  });
}

// Timers follow the line: a new request starts the reply time, a started frame hands over to
// the gap time, a handled reply or a failure stops both.
void Session::AfterLiveCall(Polled& p) {
  AfterCall(p);
  const bool inFrame = Line(*p.dev).receiver.InFrame();
  if (p.dev->requestsSent_ != p.requestsSeen) {
    p.requestsSeen = p.dev->requestsSent_;
    ArmReplyTimer(p);
  }
  if (!p.dev->outstanding_ || inFrame) {
    ++p.replyGeneration;
    p.replyTimer->cancel();
  }
  if (inFrame) {
    ArmGapTimer(p);
  } else {
    ++p.gapGeneration;
    p.gapTimer->cancel();
  }
  if (stop_ && io_) io_->stop();
}

void Session::Poll(boost::asio::steady_timer& timer) {
  for (Polled& p : devices_) {
    if (p.dev->outstanding_) continue;
    p.dev->RefreshStatus();
    AfterLiveCall(p);
  }
  timer.expires_after(kPollInterval);
  timer.async_wait([this, &timer](const boost::system::error_code& ec) {
    if (!ec) Poll(timer);
  });
}

void Session::RunLive() {
  io_ = std::make_unique<boost::asio::io_context>();
  boost::asio::io_context& io = *io_;
  for (Polled& p : devices_) {
    p.replyTimer = std::make_unique<boost::asio::steady_timer>(io);
    p.gapTimer = std::make_unique<boost::asio::steady_timer>(io);
    Polled* polled = &p;
    PortKeeper::Handlers handlers;
    handlers.receive = [this, polled](const unsigned char* data, size_t len) {
      std::vector<unsigned char> bytes(data, data + len);
      polled->dev->process(bytes.data(), static_cast<unsigned int>(bytes.size()));
      AfterLiveCall(*polled);
    };
    handlers.opened = [polled](const std::shared_ptr<ZelLink>& link) {
      polled->dev->AttachLink(link);
      polled->dev->OpenPort();
      LineRestored(*polled->dev);
    };
    // The round waits while the port is closed: RefreshStatus sends nothing.
    handlers.lost = [this, polled](const std::string& why) {
      LineLost(*polled->dev, why);
      polled->dev->ClosePort();
      AfterLiveCall(*polled);
    };
    if (options_.trace)
      handlers.retried = [id = p.id](const std::string& why) {
        std::fprintf(stderr, "[%u] %s\n", id, ForTerminal(why).c_str());
      };
    p.keeper = std::make_unique<PortKeeper>(
        io, p.port, p.dev->baudRate_, std::chrono::milliseconds(p.reopenMs), std::move(handlers));
    const std::string hopeless = p.keeper->Start();
    if (!hopeless.empty()) throw UserError("device " + std::to_string(p.id) + ": " + hopeless);
  }

  boost::asio::signal_set signals(io, SIGINT, SIGTERM);
  signals.async_wait([this, &io](const boost::system::error_code& ec, int) {
    if (ec) return;
    interrupted_ = true;
    io.stop();
  });
  boost::asio::steady_timer poll(io);
  Poll(poll);
  if (!stop_) io.run();
  for (Polled& p : devices_) p.dev->ClosePort();
}

}  // namespace zel
