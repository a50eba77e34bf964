// The root's configuration: its units from the settings, the child lookups, the cache.
#include <json/json.h>

#include <memory>

#include "HostTest.h"
#include "RVT2600.h"

namespace {

Json::Value JsonOf(const std::string& text) {
  Json::CharReaderBuilder builder;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value value;
  std::string errors;
  EXPECT_TRUE(reader->parse(text.data(), text.data() + text.size(), &value, &errors)) << errors;
  return value;
}

class RootConfigTest : public rvt_test::VirtualClockTest {
 protected:
  static constexpr unsigned kRootId = 7;
  bool Start(const std::string& settings) { return bench.Start(*root, kRootId, JsonOf(settings)); }

  std::unique_ptr<RVT2600> root = std::make_unique<RVT2600>();
};

TEST_F(RootConfigTest, FreshRoot) {
  EXPECT_EQ(root->DeviceType(), "rvt2600");
  EXPECT_EQ(root->modelCheckPending_, 1);
  EXPECT_EQ(root->step_, 0u);
  EXPECT_EQ(root->protocolVersion_, 0x20);
  EXPECT_EQ(root->baudRate_, 9600u);
  EXPECT_EQ(root->serialFlag_, 1);
  EXPECT_EQ(RVT2600::commandGroup_, 0xFF);
  EXPECT_EQ(root->supportedModels_, std::vector<std::string>{"rvt2600"});
  EXPECT_TRUE(root->detectedModel_.empty());
  EXPECT_EQ(root->GetAllChildVDevices(), std::vector<std::shared_ptr<ZelVDevice>>{nullptr});
}

TEST_F(RootConfigTest, InitSettingCreatesTheUnits) {
  const std::string units = R"("acSetting": [{"data_id": 11}, {"data_id": 12}],
                               "dcSetting": [{"data_id": 21}])";
  struct Row {
    const char* name;
    std::string settings;
    bool result;
    std::vector<unsigned> ac;
    std::vector<unsigned> dc;
    bool rectifier;
  };
  const Row rows[] = {
      {"all units", "{" + units + R"(, "rcSetting": {}})", true, {11, 12}, {21}, true},
      {"no rcSetting", "{" + units + "}", false, {11, 12}, {21}, false},
      {"null rcSetting", "{" + units + R"(, "rcSetting": null})", false, {11, 12}, {21}, false},
      {"acSetting not an array",
       R"({"acSetting": {"data_id": 11}, "rcSetting": {}})",
       true,
       {},
       {},
       true},
      {"element without data_id", R"({"dcSetting": [{}], "rcSetting": {}})", true, {}, {0}, true},
      {"protocol setup fails",
       R"({"baud": "fast", "acSetting": [{"data_id": 11}],
                                   "rcSetting": {}})",
       false,
       {},
       {},
       false},
      {"settings not an object", "[1, 2]", false, {}, {}, false},
      {"no settings", "null", false, {}, {}, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    root = std::make_unique<RVT2600>();
    EXPECT_EQ(Start(row.settings), row.result);

    std::vector<unsigned> ac, dc;
    for (const auto& unit : root->acUnits_) {
      ac.push_back(unit->DataId());
      EXPECT_EQ(unit->DeviceType(), "rvt2600-ac");
    }
    for (const auto& unit : root->dcUnits_) {
      dc.push_back(unit->DataId());
      EXPECT_EQ(unit->DeviceType(), "rvt2600-dc");
    }
    EXPECT_EQ(ac, row.ac);
    EXPECT_EQ(dc, row.dc);
    ASSERT_EQ(root->rcUnit_ != nullptr, row.rectifier);
    if (row.rectifier) {
      EXPECT_EQ(root->rcUnit_->DataId(), kRootId);
      EXPECT_EQ(root->rcUnit_->DeviceType(), "rvt2600-rc");
    }

    // Every unit in order, then the rectifier entry, empty or not.
    const auto all = root->GetAllChildVDevices();
    ASSERT_EQ(all.size(), ac.size() + dc.size() + 1);
    for (size_t k = 0; k < ac.size(); ++k) EXPECT_EQ(all[k], root->acUnits_[k]);
    for (size_t k = 0; k < dc.size(); ++k) EXPECT_EQ(all[ac.size() + k], root->dcUnits_[k]);
    EXPECT_EQ(all.back(), root->rcUnit_);

    // The units are found by their ids, with or without a rectifier unit; the root's own id
    // finds nothing.
    for (const auto& unit : root->acUnits_) EXPECT_EQ(root->GetChildVDevice(unit->DataId()), unit);
    for (const auto& unit : root->dcUnits_) EXPECT_EQ(root->GetChildVDevice(unit->DataId()), unit);
    EXPECT_EQ(root->GetChildVDevice(kRootId), nullptr);
  }
}

TEST_F(RootConfigTest, UnitsTakeTheirElementWhole) {
  ASSERT_TRUE(Start(R"({"acSetting": [{"data_id": 11, "appSetting": {"diff_v": "0.5",
                                                                      "diff_i": 3}}],
                        "dcSetting": [{"data_id": 21, "appSetting": {"diff_v": 2}}],
                        "rcSetting": {"note": 1}})"));
  EXPECT_EQ(root->acUnits_[0]->diff_v, 0.5f);
  EXPECT_EQ(root->acUnits_[0]->diff_i, 3.0f);
  EXPECT_EQ(root->dcUnits_[0]->diff_v, 2.0f);
  for (const auto& unit : root->GetAllChildVDevices()) {
    EXPECT_EQ(unit->parent_, root.get());
    EXPECT_EQ(unit->Controller(), bench.controller);  // units log through the root's controller
  }
}

TEST_F(RootConfigTest, GetChildVDeviceSearchesAcThenDc) {
  ASSERT_TRUE(Start(R"({"acSetting": [{"data_id": 11}, {"data_id": 5}],
                        "dcSetting": [{"data_id": 21}, {"data_id": 5}], "rcSetting": {}})"));
  EXPECT_EQ(root->GetChildVDevice(11), root->acUnits_[0]);
  EXPECT_EQ(root->GetChildVDevice(21), root->dcUnits_[0]);
  EXPECT_EQ(root->GetChildVDevice(5), root->acUnits_[1]);  // the first in search order
  EXPECT_EQ(root->GetChildVDevice(kRootId), nullptr);      // the rectifier is not searched
  EXPECT_EQ(root->GetChildVDevice(99), nullptr);
}

TEST_F(RootConfigTest, InitSettingAgainAppendsAndReplacesTheRectifier) {
  const std::string settings = R"({"acSetting": [{"data_id": 11}], "rcSetting": {}})";
  ASSERT_TRUE(Start(settings));
  const auto first = root->rcUnit_;
  EXPECT_TRUE(root->InitSetting(JsonOf(settings)));
  EXPECT_EQ(root->acUnits_.size(), 2u);
  EXPECT_NE(root->rcUnit_, first);
}

TEST_F(RootConfigTest, UnconvertibleDataIdThrowsAndKeepsEarlierUnits) {
  EXPECT_THROW(root->InitSetting(JsonOf(R"({"acSetting": [{"data_id": 11}, {"data_id": "x"}],
                                            "rcSetting": {}})")),
               std::exception);
  ASSERT_EQ(root->acUnits_.size(), 1u);
  EXPECT_EQ(root->acUnits_[0]->DataId(), 11u);
}

TEST_F(RootConfigTest, UnitsHeldByTheHostOutliveTheRoot) {
  ASSERT_TRUE(Start(R"({"acSetting": [{"data_id": 11}], "dcSetting": [{"data_id": 21}],
                        "rcSetting": {}})"));
  const std::shared_ptr<ZelVDevice> held = root->GetChildVDevice(11);
  const std::weak_ptr<ZelVDevice> dropped = root->GetChildVDevice(21);
  root.reset();
  EXPECT_EQ(held->DataId(), 11u);
  EXPECT_TRUE(dropped.expired());
}

TEST_F(RootConfigTest, LoadFromCacheAcceptsAnythingAndChangesNothing) {
  ASSERT_TRUE(Start(R"({"rcSetting": {}})"));
  const unsigned char image[3] = {1, 2, 3};
  EXPECT_TRUE(root->LoadFromCache(nullptr, 0));
  EXPECT_TRUE(root->LoadFromCache(image, 3));
  EXPECT_TRUE(root->LoadFromCache(std::string("abc")));
  EXPECT_EQ(root->dataReady_, 0);
  EXPECT_TRUE(root->lastUpdate_.is_not_a_date_time());
}

}  // namespace
