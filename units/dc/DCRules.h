#pragma once

#include <cstdint>

// The DC alarm rules, in the order a round builds them.
enum class DCStates {
  Voltage,  // the output voltage state: one rule
  Fuses,    // every fuse state: one rule per fuse, and none unless all fuses are reported
};

struct DCRuleRow {
  int level;
  const char* id;
  const char* code;
  const char* name;
  const char* prefix;  // instance rules: text is prefix, fuse number, name; else the name
  DCStates states;
  uint8_t active;  // the state value that makes the rule active
};

inline constexpr DCRuleRow kDCRules[] = {
    {3, "DC_0", "06008", "输出电压过低告警", nullptr, DCStates::Voltage, 1},
    {3, "DC_1", "06009", "输出电压过高告警", nullptr, DCStates::Voltage, 2},
    {1, "DC_3", "06001", "电池熔丝故障告警", "直流", DCStates::Fuses, 3},
};
