// The layout table that the build writes into the integrator text, against the objects this
// build makes: a root device made by its provider, as a host would make it.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "Providers.h"
#include "RVT2600.h"

namespace {

// One row: the offset ("-" for a class) and the size in bytes.
struct Entry {
  std::string offset;
  size_t size;
  bool operator==(const Entry& o) const { return offset == o.offset && size == o.size; }
};
using Table = std::map<std::string, Entry>;

std::ostream& operator<<(std::ostream& out, const Entry& e) {
  return out << e.offset << " " << e.size;
}

// The rows between the table's first and last line; a row ends in its offset and its size.
Table TableOfText(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  bool inside = false;
  Table table;
  while (std::getline(in, line)) {
    if (line.rfind("host layout, in bytes", 0) == 0) {
      inside = true;
    } else if (line == "end of host layout") {
      break;
    } else if (inside) {
      // The name, padded with blanks; the offset ("-" for a class) and the size.
      const size_t end = line.find("  ");
      std::istringstream numbers(line.substr(end));
      Entry entry{};
      numbers >> entry.offset >> entry.size;
      table[line.substr(0, end)] = entry;
    }
  }
  return table;
}

template <class Base, class Member>
Entry MemberOf(const Base& base, const Member& member) {
  const auto at = reinterpret_cast<const char*>(&member) - reinterpret_cast<const char*>(&base);
  return {std::to_string(at), sizeof(Member)};
}

template <class Class>
Entry ClassEntry() {
  return {"-", sizeof(Class)};
}

// What the test build compiled: member addresses within a live root device, class sizes.
Table TableOfObjects(const ZelSPDevice& device) {
  const auto& root = dynamic_cast<const PMBusProtocol&>(device);
  const VDeviceInterface& v = root;
  const ZelVDevice& z = root;
  const ZelSPDevice& s = root;
  const PMBusProtocol& p = root;
  return {
      {"VDeviceInterface", ClassEntry<VDeviceInterface>()},
      {"VDeviceInterface: device type", MemberOf(v, v.RVT_HOST_DEVICE_TYPE)},
      {"ZelVDevice", ClassEntry<ZelVDevice>()},
      {"ZelVDevice::dataReady_", MemberOf(z, z.dataReady_)},
      {"ZelVDevice::lastUpdate_", MemberOf(z, z.lastUpdate_)},
      {"ZelVDevice::ruleSeq_", MemberOf(z, z.ruleSeq_)},
      {"ZelVDevice::rules_", MemberOf(z, z.rules_)},
      {"ZelVDevice::alarmFlag_", MemberOf(z, z.alarmFlag_)},
      {"ZelSPDevice", ClassEntry<ZelSPDevice>()},
      {"ZelSPDevice::spStatus_", MemberOf(s, s.spStatus_)},
      {"ZelSPDevice::serialFlag_", MemberOf(s, s.serialFlag_)},
      {"ZelSPDevice::baudRate_", MemberOf(s, s.baudRate_)},
      {"PMBusProtocol", ClassEntry<PMBusProtocol>()},
      {"PMBusProtocol::reply_", MemberOf(p, p.reply_)},
      {"PMBusProtocol::step_", MemberOf(p, p.step_)},
      {"PMBusProtocol::protocolVersion_", MemberOf(p, p.protocolVersion_)},
      {"Provider", ClassEntry<Provider>()},
      {"ZelSPDeviceProvider", ClassEntry<ZelSPDeviceProvider>()},
      {"rule_value", ClassEntry<rule_value>()},
      {"get_ttime's result", ClassEntry<rvt::TimeStamp>()},
  };
}

// The value at a row's offset within the object, as a host reading those bytes sees it.
template <class T, class Base>
const T& At(const Base& base, const Table& table, const std::string& row) {
  const size_t offset = std::stoul(table.at(row).offset);
  return *reinterpret_cast<const T*>(reinterpret_cast<const char*>(&base) + offset);
}

TEST(HostLayout, IntegrationTextMatchesTheObjectsOfThisBuild) {
  const Table text = TableOfText(RVT_INTEGRATION_TEXT);
  ASSERT_FALSE(text.empty()) << "no layout table in " << RVT_INTEGRATION_TEXT;
  const std::unique_ptr<ZelSPDevice> root(RVT2600Provider().create());
  EXPECT_EQ(text, TableOfObjects(*root));

  // What the plugin's constructor wrote, read where the table says it is.
  const VDeviceInterface& v = *root;
  const ZelSPDevice& s = *root;
  const PMBusProtocol& p = dynamic_cast<const PMBusProtocol&>(*root);
  EXPECT_EQ(At<std::string>(v, text, "VDeviceInterface: device type"), "rvt2600");
  EXPECT_EQ(At<uint8_t>(s, text, "ZelSPDevice::serialFlag_"), 1);
  EXPECT_EQ(At<uint32_t>(s, text, "ZelSPDevice::baudRate_"), 9600u);
  EXPECT_EQ(At<uint8_t>(p, text, "PMBusProtocol::protocolVersion_"), 0x20);
}

}  // namespace
