#pragma once

#include "PMBusPowerAC.h"

extern template class PMBusPowerAC<tele_c_rvt2600_ac, tele_c_rvt2600_ac_channel, 5106>;

// The AC distribution unit of this model, device type "rvt2600-ac".
class RVT2600AC : public PMBusPowerAC<tele_c_rvt2600_ac, tele_c_rvt2600_ac_channel, 5106> {
 public:
  RVT2600AC();
  void DoImpCheckAlert() override;
};
