#pragma once

#include <cstdint>

#include "HostAdapter.h"
#include "LeValue.h"
#include "RecordLayout.h"

// AC distribution records, byte for byte as they are published, saved and loaded back.
// The array sizes are template parameters; a size of 0 leaves its array empty and the fields
// after it move up.

// Unit head: phase currents, channel count, switch states, phase alarm states, time stamp.
template <uint8_t AirlockMax, uint8_t P4043Size>
struct tele_c_pmbuspower_ac {
  // Most airlock states a switch-state reply may carry.
  static constexpr uint8_t AIRLOCK_MAX() { return AirlockMax; }
  // User-defined switch states a switch-state reply must carry.
  static constexpr uint8_t P40_43_SIZE() { return P4043Size; }

  LeU32 data_id;
  LeF32 ia;
  LeF32 ib;
  LeF32 ic;
  uint8_t channel_count;
  uint8_t airlock_count;
  uint8_t airlock[AirlockMax];
  uint8_t p40_43_count;
  uint8_t p40_43[P4043Size];
  uint8_t ia_alert;
  uint8_t ib_alert;
  uint8_t ic_alert;
  rvt::TimeStamp time_stamp;
};

// One AC input channel: line/phase voltages, frequency, their alarm states, user values.
template <uint8_t P4041Size, uint8_t P4044Size>
struct tele_c_pmbuspower_ac_channel {
  // User-defined analog values an analog reply must carry per channel.
  static constexpr uint8_t P40_41_SIZE() { return P4041Size; }
  // User-defined alarm states an alarm reply must carry per channel.
  static constexpr uint8_t p40_44_SIZE() { return P4044Size; }

  LeF32 a;
  LeF32 b;
  LeF32 c;
  LeF32 f;
  uint8_t p40_41_count;
  LeF32 p40_41[P4041Size];
  uint8_t a_alert;
  uint8_t b_alert;
  uint8_t c_alert;
  uint8_t f_alert;
  uint8_t p40_44_count;
  uint8_t p40_44[P4044Size];
};

using tele_c_rvt2600_ac = tele_c_pmbuspower_ac<0, 3>;
using tele_c_rvt2600_ac_channel = tele_c_pmbuspower_ac_channel<0, 8>;

RVT_CHECK_RECORD(tele_c_rvt2600_ac, 32);
RVT_CHECK_FIELD(tele_c_rvt2600_ac, data_id, 0, 4);
RVT_CHECK_FIELD(tele_c_rvt2600_ac, ia, 4, 4);
RVT_CHECK_FIELD(tele_c_rvt2600_ac, ib, 8, 4);
RVT_CHECK_FIELD(tele_c_rvt2600_ac, ic, 12, 4);
RVT_CHECK_FIELD(tele_c_rvt2600_ac, channel_count, 16, 1);
RVT_CHECK_FIELD(tele_c_rvt2600_ac, airlock_count, 17, 1);
RVT_CHECK_FIELD(tele_c_rvt2600_ac, airlock, 18, 0);
RVT_CHECK_FIELD(tele_c_rvt2600_ac, p40_43_count, 18, 1);
RVT_CHECK_FIELD(tele_c_rvt2600_ac, p40_43, 19, 3);
RVT_CHECK_FIELD(tele_c_rvt2600_ac, ia_alert, 22, 1);
RVT_CHECK_FIELD(tele_c_rvt2600_ac, ib_alert, 23, 1);
RVT_CHECK_FIELD(tele_c_rvt2600_ac, ic_alert, 24, 1);
RVT_CHECK_FIELD(tele_c_rvt2600_ac, time_stamp, 25, 7);
static_assert(tele_c_rvt2600_ac::AIRLOCK_MAX() == 0 && tele_c_rvt2600_ac::P40_43_SIZE() == 3,
              "AC head sizes");

RVT_CHECK_RECORD(tele_c_rvt2600_ac_channel, 30);
RVT_CHECK_FIELD(tele_c_rvt2600_ac_channel, a, 0, 4);
RVT_CHECK_FIELD(tele_c_rvt2600_ac_channel, b, 4, 4);
RVT_CHECK_FIELD(tele_c_rvt2600_ac_channel, c, 8, 4);
RVT_CHECK_FIELD(tele_c_rvt2600_ac_channel, f, 12, 4);
RVT_CHECK_FIELD(tele_c_rvt2600_ac_channel, p40_41_count, 16, 1);
RVT_CHECK_FIELD(tele_c_rvt2600_ac_channel, p40_41, 17, 0);
RVT_CHECK_FIELD(tele_c_rvt2600_ac_channel, a_alert, 17, 1);
RVT_CHECK_FIELD(tele_c_rvt2600_ac_channel, b_alert, 18, 1);
RVT_CHECK_FIELD(tele_c_rvt2600_ac_channel, c_alert, 19, 1);
RVT_CHECK_FIELD(tele_c_rvt2600_ac_channel, f_alert, 20, 1);
RVT_CHECK_FIELD(tele_c_rvt2600_ac_channel, p40_44_count, 21, 1);
RVT_CHECK_FIELD(tele_c_rvt2600_ac_channel, p40_44, 22, 8);
static_assert(tele_c_rvt2600_ac_channel::P40_41_SIZE() == 0 &&
                  tele_c_rvt2600_ac_channel::p40_44_SIZE() == 8,
              "AC channel sizes");
