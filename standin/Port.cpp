#include "Port.h"

#include "SerialLink.h"
#include "SimPort.h"

namespace zel {

LinkResult OpenLink(const std::string& port, const LinkContext& context) {
  // "sim" and "sim:FILE": the simulator on a pty pair, whose other end is opened here.
  if (sim::IsSimPort(port)) return sim::OpenSimPort(port, context);
  LinkResult result;
  auto serial = std::make_shared<SerialLink>(port, context);
  if (serial->Open()) {
    result.link = serial;
  } else {
    result.error = serial->error();
    result.code = serial->code();
  }
  return result;
}

}  // namespace zel
