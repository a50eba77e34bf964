// The entry point and the providers, from the plugin's static library.
#include <gtest/gtest.h>

#include <memory>
#include <typeinfo>

#include "Providers.h"
#include "RVT2600.h"

namespace {

template <class T>
const std::type_info& DynamicType(const T& object) {
  return typeid(object);
}

TEST(Providers, FourProvidersInOrderNewOnEveryCall) {
  const auto providers = get_providers();
  ASSERT_EQ(providers.size(), 4u);
  EXPECT_EQ(DynamicType(*providers[0]), typeid(RVT2600Provider));
  EXPECT_EQ(DynamicType(*providers[1]), typeid(RVT2600ACProvider));
  EXPECT_EQ(DynamicType(*providers[2]), typeid(RVT2600DCProvider));
  EXPECT_EQ(DynamicType(*providers[3]), typeid(RVT2600RCProvider));
  const auto again = get_providers();
  for (size_t k = 0; k < 4; ++k) EXPECT_NE(again[k], providers[k]);
}

TEST(Providers, CreateMakesAFreshDeviceOfEachType) {
  struct Row {
    const char* type;
    const std::type_info& device;
  };
  const Row rows[] = {{"rvt2600", typeid(RVT2600)},
                      {"rvt2600-ac", typeid(RVT2600AC)},
                      {"rvt2600-dc", typeid(RVT2600DC)},
                      {"rvt2600-rc", typeid(RVT2600RC)}};
  const auto providers = get_providers();
  for (size_t k = 0; k < 4; ++k) {
    SCOPED_TRACE(rows[k].type);
    const auto& provider = dynamic_cast<const ZelSPDeviceProvider&>(*providers[k]);
    const std::unique_ptr<ZelSPDevice> first(provider.create());
    const std::unique_ptr<ZelSPDevice> second(provider.create());
    EXPECT_EQ(first->DeviceType(), rows[k].type);
    EXPECT_EQ(DynamicType(*first), rows[k].device);
    EXPECT_NE(first, second);
    EXPECT_FALSE(first->dataReady_);
  }
  // The DC provider uses the constructor without a model text.
  const std::unique_ptr<ZelSPDevice> dc(
      dynamic_cast<const ZelSPDeviceProvider&>(*providers[2]).create());
  EXPECT_EQ(static_cast<RVT2600DC&>(*dc).model_text, "");
}

}  // namespace
