#include "Port.h"

#include "SerialLink.h"

namespace zel {

LinkResult OpenLink(const std::string& port, const LinkContext& context) {
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
