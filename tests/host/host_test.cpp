// The host interface: virtual slot order, log formatting, rule evaluation.
#include <gtest/gtest.h>

#include "HostTest.h"
#include "PMBusProtocol.h"
#include "Provider.h"
#include "VirtualSlot.h"

namespace {

using LoadString = bool (VDeviceInterface::*)(const std::string&);
using LoadBytes = bool (VDeviceInterface::*)(const unsigned char*, int);
using WriteCmd = void (PMBusProtocol::*)(unsigned char, unsigned char);

TEST(HostSlots, VirtualOperationsKeepTheHostOrder) {
  EXPECT_EQ(VirtualSlot(&VDeviceInterface::Get_Value), 0);
  EXPECT_EQ(VirtualSlot(static_cast<LoadString>(&VDeviceInterface::LoadFromCache)), 1);
  EXPECT_EQ(VirtualSlot(static_cast<LoadBytes>(&VDeviceInterface::LoadFromCache)), 2);
  EXPECT_EQ(VirtualSlot(&VDeviceInterface::DataId), 3);
  EXPECT_EQ(VirtualSlot(&VDeviceInterface::DeviceType), 4);
  EXPECT_EQ(VirtualSlot(&VDeviceInterface::DeviceIoControl), 5);
  EXPECT_EQ(VirtualSlot(&VDeviceInterface::RoundDone), 6);
  EXPECT_EQ(VirtualSlot(&VDeviceInterface::UseControllerDb), 7);

  EXPECT_EQ(VirtualSlot(&ZelVDevice::Reset), 10);
  EXPECT_EQ(VirtualSlot(&ZelVDevice::InitV), 11);
  EXPECT_EQ(VirtualSlot(&ZelVDevice::Init), 12);
  EXPECT_EQ(VirtualSlot(&ZelVDevice::InitSetting), 13);
  EXPECT_EQ(VirtualSlot(&ZelVDevice::IsSupportDevice), 14);
  EXPECT_EQ(VirtualSlot(&ZelVDevice::GetChildVDevice), 15);
  EXPECT_EQ(VirtualSlot(&ZelVDevice::GetAllChildVDevices), 16);
  EXPECT_EQ(VirtualSlot(&ZelVDevice::SendSP), 17);
  EXPECT_EQ(VirtualSlot(&ZelVDevice::SendDelayData), 18);
  EXPECT_EQ(VirtualSlot(&ZelVDevice::SendDoData), 19);
  EXPECT_EQ(VirtualSlot(&ZelVDevice::ReadDi), 20);
  EXPECT_EQ(VirtualSlot(&ZelVDevice::ReadAi), 21);
  EXPECT_EQ(VirtualSlot(&ZelVDevice::Get_SP_Value), 22);

  EXPECT_EQ(VirtualSlot(&ZelSPDevice::RefreshStatus), 23);
  EXPECT_EQ(VirtualSlot(&ZelSPDevice::process), 24);
  EXPECT_EQ(VirtualSlot(&ZelSPDevice::IsProcessing), 25);
  EXPECT_EQ(VirtualSlot(&ZelSPDevice::IsStalled), 26);
  EXPECT_EQ(VirtualSlot(&ZelSPDevice::SendData), 27);
  EXPECT_EQ(VirtualSlot(&ZelSPDevice::SendParityData), 28);
  EXPECT_EQ(VirtualSlot(&ZelSPDevice::OpenPort), 29);
  EXPECT_EQ(VirtualSlot(&ZelSPDevice::ClosePort), 30);

  EXPECT_EQ(VirtualSlot(&PMBusProtocol::process), 24);
  EXPECT_EQ(VirtualSlot(&PMBusProtocol::process_payload), 31);
  EXPECT_EQ(VirtualSlot(&PMBusProtocol::process_error), 32);

  // Non-virtual host operations are not slots.
  EXPECT_EQ(VirtualSlot(&ZelVDevice::CheckThresholdBool), -1);
  EXPECT_EQ(VirtualSlot(static_cast<WriteCmd>(&PMBusProtocol::write_pmbus_cmd)), -1);
  EXPECT_EQ(VirtualSlot(&ZelSPDeviceProvider::create), 2);
}

class HostTest : public rvt_test::VirtualClockTest {};

TEST_F(HostTest, InfoLogFormatsPlaceholdersAndNeverThrows) {
  auto device = std::make_shared<rvt_test::PlainDevice>();
  device->Init(bench.controller, 42, Json::Value());
  device->InfoLog("A:ProcotolError {} read {} - {}", device->DataId(), 7, -1);
  device->InfoLog("B {} only", 1, 2, 3);  // surplus values are ignored
  device->InfoLog("ProcotolError %u read 40_43 m is %d max %d", 42u, 1, 0);  // printf text stays
  device->InfoLog("C {} {} {}", 1);  // too few values: logged as it stands
  device->InfoLog("D:ProcotolError P{} x", 5u);
  EXPECT_EQ(Logs(), (std::vector<std::string>{"A:ProcotolError 42 read 7 - -1", "B 1 only",
                                              "ProcotolError %u read 40_43 m is %d max %d",
                                              "C {} {} {}", "D:ProcotolError P5 x"}));
  const auto logs = bench.controller->Journal(zel::Event::Kind::Log);
  EXPECT_EQ(logs[0].device, 42u);
}

TEST_F(HostTest, InfoLogWithoutControllerLogsNothing) {
  rvt_test::PlainDevice device;
  {
    zel::Bench other;
    device.Init(other.controller, 1, Json::Value());
  }
  device.InfoLog("gone {}", 1);  // must not crash
  SUCCEED();
}

TEST_F(HostTest, RuleChangesBecomeAlarmEvents) {
  rvt_test::PlainDevice device;
  device.Init(bench.controller, 5, Json::Value());
  auto batch = [&](bool first, bool second) {
    device.CheckThresholdBool(3, "X_0", "1", "n", "t0", first, 1);
    device.CheckThresholdBool(3, "X_0", "1", "n", "t1", second, 2);
    std::vector<rule_value> rules;
    rules.swap(device.rules_);
    return device.DoBatchCheckThreshold(rules);
  };
  EXPECT_FALSE(batch(false, false));  // a new inactive rule is no change
  EXPECT_TRUE(batch(true, false));
  EXPECT_TRUE(batch(true, true));
  EXPECT_FALSE(batch(false, false));
  std::vector<std::string> seen;
  for (const auto& e : bench.controller->Journal(zel::Event::Kind::Alarm))
    seen.push_back(e.text + (e.raised ? " raised" : " cleared"));
  EXPECT_EQ(seen, (std::vector<std::string>{"t0 raised", "t1 raised", "t0 cleared", "t1 cleared"}));
}

TEST(HostTime, TimeStampLayout) {
  const TTime t = get_ttime(boost::posix_time::ptime(boost::gregorian::date(2026, 12, 10),
                                                     boost::posix_time::time_duration(23, 4, 5)));
  const unsigned char expected[7] = {0xEA, 0x07, 12, 10, 23, 4, 5};
  EXPECT_EQ(0, std::memcmp(t.bytes, expected, 7));
}

}  // namespace
