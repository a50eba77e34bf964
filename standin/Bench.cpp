#include "Bench.h"

#include <cctype>
#include <stdexcept>

namespace zel {

Bench::Bench(Controller::Work work) : controller(std::make_shared<Controller>(work)) {}

bool Bench::Start(ZelSPDevice& device, unsigned int dataId, const Json::Value& settings) {
  const bool ok = device.Init(controller, dataId, settings);
  device.OpenPort();
  return ok;
}

int Bench::Reply(PMBusProtocol& device, unsigned char cid1,
                 const std::vector<unsigned char>& info) {
  const size_t n = info.size() < ReplyRecord::kMaxInfo ? info.size() : ReplyRecord::kMaxInfo;
  std::unique_ptr<unsigned char[]> raw(new unsigned char[6 + n]);
  raw[0] = device.protocolVersion_;
  raw[1] = device.address_;
  raw[2] = cid1;
  raw[3] = 0;
  raw[4] = static_cast<unsigned char>((2 * n) & 0xFF);
  raw[5] = static_cast<unsigned char>((2 * n) >> 8);
  for (size_t k = 0; k < n; ++k) raw[6 + k] = info[k];
  return device.HandleReply(reinterpret_cast<ReplyRecord*>(raw.get()));
}

int Bench::Reply(PMBusProtocol& device, unsigned char cid1, const std::string& infoHex) {
  return Reply(device, cid1, FromHex(infoHex));
}

std::vector<unsigned char> FromHex(const std::string& hex) {
  std::vector<unsigned char> out;
  int high = -1;
  for (char ch : hex) {
    if (std::isspace(static_cast<unsigned char>(ch))) continue;
    if (!std::isxdigit(static_cast<unsigned char>(ch)))
      throw std::invalid_argument("not a hex digit: " + std::string(1, ch));
    const int v = std::isdigit(static_cast<unsigned char>(ch))
                      ? ch - '0'
                      : std::toupper(static_cast<unsigned char>(ch)) - 'A' + 10;
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<unsigned char>(high << 4 | v));
      high = -1;
    }
  }
  if (high >= 0) throw std::invalid_argument("odd number of hex digits");
  return out;
}

std::string ToHex(const unsigned char* data, size_t len) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(2 * len);
  for (size_t k = 0; k < len; ++k) {
    out.push_back(digits[data[k] >> 4]);
    out.push_back(digits[data[k] & 0xF]);
  }
  return out;
}

}  // namespace zel
