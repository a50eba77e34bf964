#include "Providers.h"

#include "RVT2600.h"

// The version, in the .comment section that strip keeps (`readelf -p .comment`, `strings`):
// a symbol for it would be one more export.
__asm__(".ident \"librvt2600 " RVT_PLUGIN_VERSION "\"");

ZelSPDevice* RVT2600Provider::create() const {
  return new RVT2600;
}
ZelSPDevice* RVT2600ACProvider::create() const {
  return new RVT2600AC;
}
ZelSPDevice* RVT2600DCProvider::create() const {
  return new RVT2600DC;
}
ZelSPDevice* RVT2600RCProvider::create() const {
  return new RVT2600RC;
}

std::vector<std::shared_ptr<Provider>> get_providers() {
  std::vector<std::shared_ptr<Provider>> providers;
  providers.reserve(4);
  providers.push_back(std::make_shared<RVT2600Provider>());
  providers.push_back(std::make_shared<RVT2600ACProvider>());
  providers.push_back(std::make_shared<RVT2600DCProvider>());
  providers.push_back(std::make_shared<RVT2600RCProvider>());
  return providers;
}
