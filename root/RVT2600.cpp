#include "RVT2600.h"

template class PMBusPower<RVT2600AC, RVT2600DC, RVT2600RC>;

RVT2600::RVT2600() : PMBusPower({"rvt2600"}) {
  rvt::SetDeviceType(*this, "rvt2600");
  baudRate_ = 9600;
  serialFlag_ = 1;
  protocolVersion_ = 0x20;
}

RVT2600::~RVT2600() = default;
