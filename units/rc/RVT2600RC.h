#pragma once

#include "PMBusPowerRC.h"

// The rectifier unit of the RVT2600, published as data type 5107.
class RVT2600RC : public PMBusPowerRC<tele_c_rvt2600_rc, tele_c_rvt2600_rc_channel, 5107> {
 public:
  RVT2600RC();
  ~RVT2600RC() override;

  // The module fault alarms are all in the rule table; this model adds none.
  void DoImpCheckAlert() override;
};
