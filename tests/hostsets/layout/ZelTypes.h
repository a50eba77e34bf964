#pragma once

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <cstdint>
#include <map>
#include <string>

// One alarm rule: the stand-in's members in another order, with two of another host's.
struct rule_value {
  std::string text;
  double weight = 0;
  uint32_t device = 0;
  std::string name;
  int32_t level = 0;
  std::map<std::string, std::string> attributes;
  std::string code;
  uint32_t seq = 0;
  std::string id;
  uint8_t active = 0;
};

// The 7-byte time stamp.
struct TTime {
  unsigned char bytes[7];
};

TTime get_ttime(boost::posix_time::ptime t);

enum EnumParity {
  PARITY_NONE = 0,
  PARITY_ODD = 1,
  PARITY_EVEN = 2,
  PARITY_MARK = 3,
  PARITY_SPACE = 4
};

// The decoded reply record, whose bytes the contract fixes.
struct ReplyRecord {
  static constexpr unsigned kMaxInfo = 2048;
  unsigned char ver;
  unsigned char adr;
  unsigned char cid1;
  unsigned char rtn;
  unsigned char length[2];
  unsigned char info[kMaxInfo];
};
