#pragma once

#include <cstdint>

#include "HostAdapter.h"
#include "LeValue.h"
#include "RecordLayout.h"

// Rectifier group head: AC and DC parameters, the group value and the module count. DC_NUMBER
// user-defined DC parameters of DC_SIZE bytes in all.
template <int DC_NUMBER, int DC_SIZE>
struct tele_c_pmbuspower_rc {
  static constexpr int P42_46_NUMBER() { return DC_NUMBER; }
  static constexpr int P42_46_SIZE() { return DC_SIZE; }

  LeU32 data_id;
  LeF32 ac_param[5];
  LeF32 dc_param[2];
  uint8_t dc_user_param_count;
  unsigned char dc_user_param[DC_SIZE];
  LeF32 group_analog;
  uint8_t module_count;
  rvt::TimeStamp time_stamp;
};

// One rectifier module: ANALOG user-defined values, STATE user-defined state bytes and ALARM
// user-defined alarm bytes after the module's own fields.
template <int ANALOG, int STATE, int ALARM>
struct tele_c_pmbuspower_rc_channel {
  static constexpr int P41_41_SIZE() { return ANALOG; }
  static constexpr int P41_43_SIZE() { return STATE; }
  static constexpr int P41_44_SIZE() { return ALARM; }

  LeF32 analog;
  uint8_t user_analog_count;
  LeF32 user_analog[ANALOG];
  unsigned char state[3];
  uint8_t user_state_count;
  unsigned char user_state[STATE];
  uint8_t fault;
  uint8_t user_alarm_count;
  unsigned char user_alarm[ALARM];
};

struct tele_c_rvt2600_rc : tele_c_pmbuspower_rc<5, 20> {};
struct tele_c_rvt2600_rc_channel : tele_c_pmbuspower_rc_channel<4, 1, 4> {};

RVT_CHECK_RECORD(tele_c_rvt2600_rc, 65);
RVT_CHECK_FIELD(tele_c_rvt2600_rc, data_id, 0, 4);
RVT_CHECK_FIELD(tele_c_rvt2600_rc, ac_param, 4, 20);
RVT_CHECK_FIELD(tele_c_rvt2600_rc, dc_param, 24, 8);
RVT_CHECK_FIELD(tele_c_rvt2600_rc, dc_user_param_count, 32, 1);
RVT_CHECK_FIELD(tele_c_rvt2600_rc, dc_user_param, 33, 20);
RVT_CHECK_FIELD(tele_c_rvt2600_rc, group_analog, 53, 4);
RVT_CHECK_FIELD(tele_c_rvt2600_rc, module_count, 57, 1);
RVT_CHECK_FIELD(tele_c_rvt2600_rc, time_stamp, 58, 7);

RVT_CHECK_RECORD(tele_c_rvt2600_rc_channel, 32);
RVT_CHECK_FIELD(tele_c_rvt2600_rc_channel, analog, 0, 4);
RVT_CHECK_FIELD(tele_c_rvt2600_rc_channel, user_analog_count, 4, 1);
RVT_CHECK_FIELD(tele_c_rvt2600_rc_channel, user_analog, 5, 16);
RVT_CHECK_FIELD(tele_c_rvt2600_rc_channel, state, 21, 3);
RVT_CHECK_FIELD(tele_c_rvt2600_rc_channel, user_state_count, 24, 1);
RVT_CHECK_FIELD(tele_c_rvt2600_rc_channel, user_state, 25, 1);
RVT_CHECK_FIELD(tele_c_rvt2600_rc_channel, fault, 26, 1);
RVT_CHECK_FIELD(tele_c_rvt2600_rc_channel, user_alarm_count, 27, 1);
RVT_CHECK_FIELD(tele_c_rvt2600_rc_channel, user_alarm, 28, 4);

static_assert(tele_c_rvt2600_rc::P42_46_NUMBER() == 5 && tele_c_rvt2600_rc::P42_46_SIZE() == 20,
              "five user-defined DC parameters, 20 bytes");
static_assert(tele_c_rvt2600_rc_channel::P41_41_SIZE() == 4 &&
                  tele_c_rvt2600_rc_channel::P41_43_SIZE() == 1 &&
                  tele_c_rvt2600_rc_channel::P41_44_SIZE() == 4,
              "user-defined blocks of a module: 4 values, 1 state byte, 4 alarm bytes");
