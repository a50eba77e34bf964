#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/serial_port.hpp>
#include <memory>
#include <string>

#include "Port.h"

namespace zel {

// A serial device or pty, 8N1 raw at the configured speed. Reads run on the loop and hand
// every chunk on as it arrives; a request is written whole before Write returns.
class SerialLink : public ZelLink, public std::enable_shared_from_this<SerialLink> {
 public:
  SerialLink(const std::string& path, const LinkContext& context);

  bool Open() override;  // error() and code() tell why not
  void Close() override;
  bool IsOpen() const override;
  void Write(const unsigned char* data, unsigned int len) override;
  const std::string& error() const { return error_; }
  const boost::system::error_code& code() const { return code_; }

 private:
  void ReadSome();

  std::string path_;
  LinkContext context_;
  boost::asio::serial_port port_;
  unsigned char buffer_[512];
  std::string error_;
  boost::system::error_code code_;
};

}  // namespace zel
