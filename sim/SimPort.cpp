#include "SimPort.h"

#include <memory>
#include <system_error>

#include "LineServer.h"

namespace sim {
namespace {

// The device's line, with the simulator on its other end for as long as the line lives.
class SimLink : public ZelLink {
 public:
  SimLink(std::unique_ptr<LineServer> server, std::shared_ptr<ZelLink> line)
      : server_(std::move(server)), line_(std::move(line)) {}
  ~SimLink() override {
    line_->Close();
    server_->Stop();
  }

  bool Open() override { return line_->Open(); }
  void Close() override { line_->Close(); }
  bool IsOpen() const override { return line_->IsOpen(); }
  void Write(const unsigned char* data, unsigned int len) override { line_->Write(data, len); }

 private:
  std::unique_ptr<LineServer> server_;
  std::shared_ptr<ZelLink> line_;
};

}  // namespace

bool IsSimPort(const std::string& port) {
  return port == "sim" || port.rfind("sim:", 0) == 0;
}

zel::LinkResult OpenSimPort(const std::string& port, const zel::LinkContext& context) {
  zel::LinkResult result;
  std::unique_ptr<LineServer> server;
  try {
    server = std::make_unique<LineServer>(port == "sim" ? Scenario::Default()
                                                        : Scenario::Load(port.substr(4)));
    server->OpenPty();
    server->Start();
  } catch (const ScenarioError& e) {
    result.error = std::string("simulator: ") + e.what();
    return result;
  } catch (const std::system_error& e) {
    result.error = std::string("simulator: ") + e.what();
    return result;
  }
  zel::LinkResult line = zel::OpenLink(server->Path(), context);
  if (!line.link) {
    result.error = "simulator pty " + server->Path() + ": " + line.error;
    return result;
  }
  result.link = std::make_shared<SimLink>(std::move(server), std::move(line.link));
  return result;
}

}  // namespace sim
