#pragma once

#include <json/value.h>

#include <memory>
#include <string>
#include <vector>

#include "Controller.h"
#include "PMBusProtocol.h"

namespace zel {

// Drives devices without a serial line: starts them with a controller and hands them replies
// as the protocol base would after decoding a frame. Used by the tests and the replay mode.
class Bench {
 public:
  explicit Bench(Controller::Work work = Controller::Work::Inline);

  // Init(controller, data id, settings) and open the port; the result of Init.
  bool Start(ZelSPDevice& device, unsigned int dataId, const Json::Value& settings);

  // A reply with command group cid1 and INFO bytes, in a record of exactly its size.
  int Reply(PMBusProtocol& device, unsigned char cid1, const std::vector<unsigned char>& info);
  int Reply(PMBusProtocol& device, unsigned char cid1, const std::string& infoHex);

  std::shared_ptr<Controller> controller;
};

// "0A ff" or "0aff" to bytes; throws std::invalid_argument on anything else.
std::vector<unsigned char> FromHex(const std::string& hex);
std::string ToHex(const unsigned char* data, size_t len);
inline std::string ToHex(const std::vector<unsigned char>& v) {
  return ToHex(v.data(), v.size());
}

}  // namespace zel
