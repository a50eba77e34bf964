#pragma once

#include <memory>
#include <vector>

#include "HostAdapter.h"

// The plugin's one exported function. It hands a C++ vector across C linkage, as the host
// expects; clang's warning about that is silenced here only.
#define RVT_PLUGIN_EXPORT __attribute__((visibility("default")))

#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wreturn-type-c-linkage"
#endif
extern "C" RVT_PLUGIN_EXPORT std::vector<std::shared_ptr<Provider>> get_providers();
#if defined(__clang__)
#pragma clang diagnostic pop
#endif

// One factory per device type; each create() returns a new device that the caller owns.
class RVT2600Provider : public ZelSPDeviceProvider {
 public:
  ZelSPDevice* create() const override;
};

class RVT2600ACProvider : public ZelSPDeviceProvider {
 public:
  ZelSPDevice* create() const override;
};

class RVT2600DCProvider : public ZelSPDeviceProvider {
 public:
  ZelSPDevice* create() const override;
};

class RVT2600RCProvider : public ZelSPDeviceProvider {
 public:
  ZelSPDevice* create() const override;
};
