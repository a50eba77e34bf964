#include "SerialLink.h"

#include <boost/asio/write.hpp>

namespace zel {

SerialLink::SerialLink(const std::string& path, const LinkContext& context)
    : path_(path), context_(context), port_(context.io) {}

bool SerialLink::Open() {
  using boost::asio::serial_port_base;
  boost::system::error_code ec;
  port_.open(path_, ec);  // raw mode: no echo, no line editing, no CR/LF translation
  if (!ec) port_.set_option(serial_port_base::baud_rate(context_.baud), ec);
  if (!ec) port_.set_option(serial_port_base::character_size(8), ec);
  if (!ec) port_.set_option(serial_port_base::parity(serial_port_base::parity::none), ec);
  if (!ec) port_.set_option(serial_port_base::stop_bits(serial_port_base::stop_bits::one), ec);
  if (!ec)
    port_.set_option(serial_port_base::flow_control(serial_port_base::flow_control::none), ec);
  if (ec) {
    error_ = ec.message();
    code_ = ec;
    boost::system::error_code ignored;
    port_.close(ignored);
    return false;
  }
  ReadSome();
  return true;
}

void SerialLink::Close() {
  boost::system::error_code ignored;
  port_.close(ignored);
}

bool SerialLink::IsOpen() const {
  return port_.is_open();
}

void SerialLink::Write(const unsigned char* data, unsigned int len) {
  boost::system::error_code ec;
  boost::asio::write(port_, boost::asio::buffer(data, len), ec);
  if (ec && context_.fail) context_.fail("port " + path_ + ": " + ec.message());
}

void SerialLink::ReadSome() {
  std::weak_ptr<SerialLink> self = shared_from_this();
  port_.async_read_some(boost::asio::buffer(buffer_),
                        [self](const boost::system::error_code& ec, size_t n) {
                          auto link = self.lock();
                          if (!link || ec == boost::asio::error::operation_aborted) return;
                          if (ec) {
                            if (link->context_.fail)
                              link->context_.fail("port " + link->path_ + ": " + ec.message());
                            return;
                          }
                          if (link->context_.receive) link->context_.receive(link->buffer_, n);
                          if (link->port_.is_open()) link->ReadSome();
                        });
}

}  // namespace zel
