// rvt2600-line-faults: the reference site over a pty, through the bench host's serial link and
// line code, with the simulator damaging its replies at random (one byte lost or one bit
// changed, never both in one frame). Every published image must equal the simulator's truth for
// its round, every damaged reply must be dropped by the host and counted, and every round must
// complete.
#include <boost/asio/io_context.hpp>
#include <chrono>
#include <cstdio>
#include <string>

#include "LineServer.h"
#include "SerialLink.h"
#include "SoakKit.h"

namespace {

// The simulator's line server on its own thread, and the root device on the other end of the
// pty, read through an event loop that this program turns one handler at a time.
class PtyRig : public soak::Rig {
 public:
  PtyRig(sim::Scenario scenario, const Json::Value& line)
      : Rig(scenario, line), server_(std::move(scenario)) {
    server_.OpenPty();
    server_.Start();
    zel::LinkContext context{io_, dev_->baudRate_, {}, {}};
    context.receive = [this](const unsigned char* data, size_t len) {
      std::string bytes(reinterpret_cast<const char*>(data), len);
      dev_->process(reinterpret_cast<unsigned char*>(&bytes[0]), static_cast<unsigned int>(len));
    };
    context.fail = [this](const std::string& why) { failure_ = why; };
    auto link = std::make_shared<zel::SerialLink>(server_.Path(), context);
    if (!link->Open()) throw std::runtime_error("pty " + server_.Path() + ": " + link->error());
    Open(link);
  }
  // The serial link goes before the event loop it runs on.
  ~PtyRig() override {
    root_->ClosePort();
    root_->AttachLink(nullptr);
    server_.Stop();
  }

  sim::LineDamage Damage() const override { return server_.Damage(); }
  std::string LineFailure() const override { return failure_; }

 protected:
  // Bytes as they come; the reply time (from the request) or the gap time (inside a frame)
  // running out without any is the host's timeout.
  void Pump() override {
    const zel::LineState& line = zel::Line(*dev_);
    const bool inFrame = line.receiver.InFrame();
    const unsigned ms =
        inFrame ? dev_->gapMs_
                : dev_->replyTimeoutMs_ + zel::LineTimeMs(line.requestBytes, dev_->baudRate_);
    if (io_.run_one_for(std::chrono::milliseconds(ms)) > 0) return;
    if (inFrame) {
      zel::FrameGap(*dev_);
    } else {
      zel::ReplyMissing(*dev_);
    }
  }
  unsigned SimRound() const override { return server_.Round(); }

 private:
  boost::asio::io_context io_;
  sim::LineServer server_;
  std::string failure_;
};

}  // namespace

int main(int argc, char** argv) {
  const soak::Options options =
      soak::RunOptions(argc, argv, "1000", {{"reply-timeout-ms", "200"}, {"gap-ms", "50"}});
  if (!options.ok()) {
    std::fprintf(stderr, "rvt2600-line-faults: %s\n", options.error().c_str());
    return 2;
  }
  Json::Value line;
  line["reply_timeout_ms"] = static_cast<Json::UInt>(options.Number("reply-timeout-ms"));
  line["gap_ms"] = static_cast<Json::UInt>(options.Number("gap-ms"));
  const soak::Outcome out = soak::Run(options, [&line](sim::Scenario scenario) {
    return std::make_unique<PtyRig>(std::move(scenario), line);
  });
  out.Report("rvt2600-line-faults", "over a pty");
  return out.Passed() ? 0 : 1;
}
