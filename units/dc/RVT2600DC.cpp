#include "RVT2600DC.h"

RVT2600DC::RVT2600DC() {
  deviceType_ = "rvt2600-dc";
}

RVT2600DC::RVT2600DC(const std::string& text) : PMBusPowerDC(text) {
  deviceType_ = "rvt2600-dc";
}

void RVT2600DC::DoImpCheckAlert() {}
