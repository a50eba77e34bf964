// The replay driver: the replay file answers every request in turn, on the virtual clock.
#include <cerrno>
#include <cstring>
#include <deque>
#include <fstream>
#include <functional>

#include "Clock.h"
#include "Frame.h"
#include "Session.h"

namespace zel {
namespace {

// Replay passes in which no device sends anything before the replay is given up.
constexpr unsigned kIdlePassLimit = 100;

}  // namespace

void Session::RunReplay() {
  // Read twice, a line at a time: once to refuse a file with a line that does not parse before
  // anything runs, then as the devices ask for replies.
  std::ifstream in(options_.replay);
  if (!in) throw UserError("cannot read replay " + options_.replay + ": " + std::strerror(errno));
  try {
    ReplayReader check(in);
    while (check.Next()) {
    }
  } catch (const ReplayError& e) {
    throw UserError("replay " + options_.replay + " " + e.what());
  }
  in.clear();
  in.seekg(0);
  ReplayReader reader(in);

  std::deque<Polled*> waiting;  // devices whose request waits for a line, oldest first
  // Work items run after each call, in order, so the events come in the same order every time.
  auto call = [&](Polled& p, const std::function<void()>& fn) {
    controller_->HoldWork(true);
    fn();
    controller_->Drain();
    AfterCall(p);
    if (p.dev->requestsSent_ != p.requestsSeen) {
      p.requestsSeen = p.dev->requestsSent_;
      if (p.dev->outstanding_) waiting.push_back(&p);
    }
  };

  for (Polled& p : devices_) p.dev->OpenPort();
  unsigned idlePasses = 0;
  bool first = true;
  while (!stop_) {
    if (waiting.empty()) {
      if (!first) HostClock::Advance(kReplayStepS);
      first = false;
      for (Polled& p : devices_)
        if (!p.dev->outstanding_) call(p, [&p] { p.dev->RefreshStatus(); });
      if (waiting.empty() && ++idlePasses > kIdlePassLimit)
        throw UserError("replay " + options_.replay + ": no device sends a request any more");
      continue;
    }
    idlePasses = 0;
    Polled& p = *waiting.front();
    waiting.pop_front();
    std::optional<ReplayLine> next = reader.Next();
    while (next && next->kind == ReplayLine::Kind::Advance) {
      HostClock::Advance(next->seconds);
      next = reader.Next();
    }
    if (!next) break;  // the file has run out
    const ReplayLine& line = *next;
    if (line.kind == ReplayLine::Kind::Timeout) {
      call(p, [&p] { ReplyMissing(*p.dev); });
      continue;
    }
    framing::Frame reply;
    reply.ver = p.dev->protocolVersion_;
    reply.adr = p.dev->address_;
    reply.cid1 = line.cid1;
    reply.cid2 = 0;
    reply.info = line.info;
    std::string bytes = framing::Encode(reply);
    call(p, [&p, &bytes] {
      p.dev->process(reinterpret_cast<unsigned char*>(&bytes[0]),
                     static_cast<unsigned int>(bytes.size()));
    });
  }
}

}  // namespace zel
