#include "RVT2600AC.h"

RVT2600AC::RVT2600AC() {
  rvt::SetDeviceType(*this, "rvt2600-ac");
}

// This model has no alarms beyond the standard rules.
void RVT2600AC::DoImpCheckAlert() {}
