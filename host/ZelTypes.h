#pragma once

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <cstdint>
#include <string>

#include "ZelExport.h"

// One alarm rule as the host evaluates it. The stand-in's own: its members, their names and
// order; the plugin only copies and moves the record.
struct rule_value {
  uint8_t active = 0;
  std::string id;
  std::string code;
  int32_t level = 0;
  uint32_t seq = 0;
  std::string name;
  std::string text;
  uint32_t device = 0;
};

// The host's 7-byte time stamp: year (low byte first), month, day, hour, minute, second. The
// stand-in's own: the name TTime (the contract gives get_ttime's result no name).
struct TTime {
  unsigned char bytes[7];
};
static_assert(sizeof(TTime) == 7 && alignof(TTime) == 1, "time stamp is 7 packed bytes");

ZEL_HOST_API TTime get_ttime(boost::posix_time::ptime t);

enum EnumParity {
  PARITY_NONE = 0,
  PARITY_ODD = 1,
  PARITY_EVEN = 2,
  PARITY_MARK = 3,
  PARITY_SPACE = 4
};

// A decoded reply as the protocol base hands it to the device. The length field holds twice
// the number of INFO bytes, low byte first. The stand-in's own: the field names and kMaxInfo;
// the plugin reads the record by its bytes.
struct ReplyRecord {
  static constexpr unsigned kMaxInfo = 2048;
  unsigned char ver;
  unsigned char adr;
  unsigned char cid1;
  unsigned char rtn;
  unsigned char length[2];
  unsigned char info[kMaxInfo];
};
static_assert(sizeof(ReplyRecord) == 6 + ReplyRecord::kMaxInfo, "reply record is packed");
