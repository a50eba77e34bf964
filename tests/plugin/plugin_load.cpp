// Loads the built librvt2600.so as the host does (its host symbols resolved in this program),
// creates every device through it and starts the root for its model query. An argument names
// another build of the plugin, e.g. one made by the other compiler.
#include <dlfcn.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "Bench.h"
#include "Provider.h"

namespace {

using GetProviders = std::vector<std::shared_ptr<Provider>> (*)();

int failures = 0;

void Check(bool ok, const std::string& what) {
  if (ok) return;
  std::fprintf(stderr, "FAILED: %s\n", what.c_str());
  ++failures;
}

void Run(GetProviders getProviders) {
  const auto providers = getProviders();
  Check(providers.size() == 4, "four providers");
  if (providers.size() != 4) return;

  const char* types[] = {"rvt2600", "rvt2600-ac", "rvt2600-dc", "rvt2600-rc"};
  std::vector<std::unique_ptr<ZelSPDevice>> devices;
  for (size_t k = 0; k < 4; ++k) {
    const auto* provider = dynamic_cast<const ZelSPDeviceProvider*>(providers[k].get());
    Check(provider != nullptr, std::string("a device provider for ") + types[k]);
    if (provider == nullptr) return;
    devices.emplace_back(provider->create());
    Check(devices.back()->DeviceType() == types[k], std::string("device type ") + types[k]);
  }

  // The root, configured and polled by the stand-in host, asks for the model first.
  auto& root = dynamic_cast<PMBusProtocol&>(*devices[0]);
  zel::Bench bench;
  Json::Value settings(Json::objectValue);
  settings["acSetting"][0]["data_id"] = 11;
  settings["dcSetting"][0]["data_id"] = 21;
  settings["rcSetting"] = Json::Value(Json::objectValue);
  Check(bench.Start(root, 1, settings), "InitSetting with every unit");
  Check(root.GetAllChildVDevices().size() == 3, "three units");
  Check(root.RefreshStatus(), "RefreshStatus");
  const auto requests = bench.controller->Journal(zel::Event::Kind::Request);
  Check(requests.size() == 1 && requests[0].cid1 == 0x40 && requests[0].cid2 == 0x51,
        "the model query");
}

}  // namespace

int main(int argc, char** argv) {
  const char* path = argc > 1 ? argv[1] : RVT_PLUGIN_PATH;
  void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    std::fprintf(stderr, "FAILED: dlopen %s: %s\n", path, dlerror());
    return 1;
  }
  const auto getProviders = reinterpret_cast<GetProviders>(dlsym(handle, "get_providers"));
  Check(getProviders != nullptr, "get_providers found");
  if (getProviders != nullptr) Run(getProviders);
  dlclose(handle);
  if (failures == 0) std::printf("%s loaded, providers and devices as expected\n", path);
  return failures == 0 ? 0 : 1;
}
