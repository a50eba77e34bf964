#pragma once

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <cstdint>
#include <map>
#include <string>

// One alarm rule, under another host's names.
struct rule_value {
  std::string strAlarmText;
  double weight = 0;
  uint32_t uDevice = 0;
  std::string strAlarmName;
  int32_t nLevel = 0;
  std::map<std::string, std::string> attributes;
  std::string strAlarmCode;
  uint32_t uSeq = 0;
  std::string strRuleId;
  uint8_t bActive = 0;
};

// The 7-byte time stamp, under another name.
struct ZelDateTime7 {
  unsigned char raw[7];
};

ZelDateTime7 get_ttime(boost::posix_time::ptime t);

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
