#include "RVT2600DC.h"

RVT2600DC::RVT2600DC() {
  rvt::SetDeviceType(*this, "rvt2600-dc");
}

RVT2600DC::RVT2600DC(const std::string& text) : PMBusPowerDC(text) {
  rvt::SetDeviceType(*this, "rvt2600-dc");
}

void RVT2600DC::DoImpCheckAlert() {}
