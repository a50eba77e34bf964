#pragma once

#include "ZelExport.h"
#include "ZelSPDevice.h"

// Factories the plugin hands the host, one per device type. Nothing of the stand-in's own.
class ZEL_HOST_API Provider {
 public:
  virtual ~Provider();
};

class ZEL_HOST_API ZelSPDeviceProvider : public Provider {
 public:
  ~ZelSPDeviceProvider() override;
  virtual ZelSPDevice* create() const = 0;
};
