#pragma once

#include <string>

#include "DCRecord.h"
#include "PMBusPowerDC.h"

extern template class PMBusPowerDC<tele_c_rvt2600_dc, 5108>;

// The RVT2600's DC distribution: device type "rvt2600-dc", images under data type 5108.
class RVT2600DC : public PMBusPowerDC<tele_c_rvt2600_dc, 5108> {
 public:
  RVT2600DC();
  // text: the model the root read from the power system.
  explicit RVT2600DC(const std::string& text);

  // This model raises no alarms beyond the voltage and fuse rules.
  void DoImpCheckAlert() override;
};
