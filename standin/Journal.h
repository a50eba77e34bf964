#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ZelTypes.h"

namespace zel {

// One thing the host saw a device do, in the order it happened.
struct Event {
  enum class Kind { Request, Publish, Rules, Alarm, Log, History, Reset };
  explicit Event(Kind k) : kind(k) {}

  Kind kind;
  unsigned int device = 0;
  unsigned char cid1 = 0;
  unsigned char cid2 = 0;
  int dataType = 0;
  std::vector<unsigned char> bytes;  // request INFO, published or saved image
  std::string text;                  // log line, alarm text
  std::string id;                    // alarm rule id
  uint32_t seq = 0;                  // alarm rule sequence
  bool raised = false;               // alarm state
  std::vector<rule_value> rules;     // evaluated batch
};

}  // namespace zel
