#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/system/error_code.hpp>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "Link.h"

namespace zel {

// What a device's line gets from the program: the event loop it runs on, the speed, and where
// its bytes and its failure go. Both callbacks are to be called on the loop's thread.
struct LinkContext {
  boost::asio::io_context& io;
  unsigned int baud = 9600;
  // Bytes received from the line, handed to the device.
  std::function<void(const unsigned char* data, size_t len)> receive;
  // The line broke after it opened (read or write error, hang-up), with why. Called at most once
  // for each failed read or write, possibly inside Write.
  std::function<void(const std::string& why)> fail;
};

struct LinkResult {
  std::shared_ptr<ZelLink> link;   // open; empty when the port did not open
  std::string error;               // why it did not open
  boost::system::error_code code;  // the system's error, where there is one
};

// Opens a serial device (or pty) by its path.
LinkResult OpenLink(const std::string& port, const LinkContext& context);

}  // namespace zel
