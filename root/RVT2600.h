#pragma once

#include "PMBusPower.h"
#include "ac/RVT2600AC.h"
#include "dc/RVT2600DC.h"
#include "rc/RVT2600RC.h"

extern template class PMBusPower<RVT2600AC, RVT2600DC, RVT2600RC>;

// The RVT2600 power system on one serial line, device type "rvt2600".
class RVT2600 : public PMBusPower<RVT2600AC, RVT2600DC, RVT2600RC> {
 public:
  RVT2600();
  ~RVT2600() override;
};
