#include "RVT2600RC.h"

RVT2600RC::RVT2600RC() {
  rvt::SetDeviceType(*this, "rvt2600-rc");
}

RVT2600RC::~RVT2600RC() = default;

void RVT2600RC::DoImpCheckAlert() {}
