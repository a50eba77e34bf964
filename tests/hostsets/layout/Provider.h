#pragma once

#include "ZelSPDevice.h"

class Provider {
 public:
  virtual ~Provider();
};

class ZelSPDeviceProvider : public Provider {
 public:
  ~ZelSPDeviceProvider() override;
  virtual ZelSPDevice* create() const = 0;
};
