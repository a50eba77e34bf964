#pragma once

#include <cstdint>

#include "HostAdapter.h"
#include "LeValue.h"
#include "RecordLayout.h"

// The DC distribution record: the unit's whole telemetry, and byte for byte the image it
// publishes, saves and loads back. Counts hold what the device sent, even beyond capacity.
template <unsigned char M, unsigned char N, unsigned char P, unsigned char ALERT_M,
          unsigned char ALERT_P>
struct tele_c_pmbuspower_dc {
  static constexpr unsigned char M_SIZE() { return M; }
  static constexpr unsigned char N_SIZE() { return N; }
  static constexpr unsigned char P_SIZE() { return P; }
  static constexpr unsigned char ALERT_M_SIZE() { return ALERT_M; }
  static constexpr unsigned char ALERT_P_SIZE() { return ALERT_P; }

  LeU32 data_id;
  LeF32 v;  // output voltage
  LeF32 i;  // current
  uint8_t dc_m;
  LeF32 m_value[M];
  uint8_t dc_n;
  LeF32 n_value[N];
  uint8_t p_count;
  LeF32 user_p[P];  // -0.1 where the device supplied none
  uint8_t v_state;  // 1 low, 2 high
  uint8_t alert_m_count;
  uint8_t alert_m[ALERT_M];  // fuse states; 3 is a fuse fault
  uint8_t alert_p_count;
  uint8_t alert_p[ALERT_P];
  rvt::TimeStamp time_stamp;
};

using tele_c_rvt2600_dc = tele_c_pmbuspower_dc<4, 9, 3, 64, 13>;

RVT_CHECK_RECORD(tele_c_rvt2600_dc, 166);
RVT_CHECK_FIELD(tele_c_rvt2600_dc, data_id, 0, 4);
RVT_CHECK_FIELD(tele_c_rvt2600_dc, v, 4, 4);
RVT_CHECK_FIELD(tele_c_rvt2600_dc, i, 8, 4);
RVT_CHECK_FIELD(tele_c_rvt2600_dc, dc_m, 12, 1);
RVT_CHECK_FIELD(tele_c_rvt2600_dc, m_value, 13, 16);
RVT_CHECK_FIELD(tele_c_rvt2600_dc, dc_n, 29, 1);
RVT_CHECK_FIELD(tele_c_rvt2600_dc, n_value, 30, 36);
RVT_CHECK_FIELD(tele_c_rvt2600_dc, p_count, 66, 1);
RVT_CHECK_FIELD(tele_c_rvt2600_dc, user_p, 67, 12);
RVT_CHECK_FIELD(tele_c_rvt2600_dc, v_state, 79, 1);
RVT_CHECK_FIELD(tele_c_rvt2600_dc, alert_m_count, 80, 1);
RVT_CHECK_FIELD(tele_c_rvt2600_dc, alert_m, 81, 64);
RVT_CHECK_FIELD(tele_c_rvt2600_dc, alert_p_count, 145, 1);
RVT_CHECK_FIELD(tele_c_rvt2600_dc, alert_p, 146, 13);
RVT_CHECK_FIELD(tele_c_rvt2600_dc, time_stamp, 159, 7);
static_assert(tele_c_rvt2600_dc::M_SIZE() == 4 && tele_c_rvt2600_dc::N_SIZE() == 9 &&
                  tele_c_rvt2600_dc::P_SIZE() == 3 && tele_c_rvt2600_dc::ALERT_M_SIZE() == 64 &&
                  tele_c_rvt2600_dc::ALERT_P_SIZE() == 13,
              "DC record capacities");
