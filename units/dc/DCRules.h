#pragma once

#include <cstdint>
#include <string>

// The DC alarm rules, in the order a round builds them.
enum class DCStates {
  Voltage,  // the output voltage state: one rule
  Fuses,    // every fuse state: one rule per fuse, and none unless all fuses are reported
};

// The strings are made once with the table; a round passes them to the host as they stand.
struct DCRuleRow {
  int level;
  std::string id;
  std::string code;
  std::string name;
  std::string prefix;  // instance rules: text is prefix, fuse number, name; else the name
  DCStates states;
  uint8_t active;  // the state value that makes the rule active
};

inline const DCRuleRow kDCRules[] = {
    {3, "DC_0", "06008", "输出电压过低告警", "", DCStates::Voltage, 1},
    {3, "DC_1", "06009", "输出电压过高告警", "", DCStates::Voltage, 2},
    {1, "DC_3", "06001", "电池熔丝故障告警", "直流", DCStates::Fuses, 3},
};
