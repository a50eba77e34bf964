#include "ParseOps.h"

#include <cstring>
#include <memory>

#include "Bench.h"
#include "RVT2600.h"

namespace rvt_fuzz {
namespace {

constexpr unsigned kUnitId = 7;

// The units' parent on the stand-in host, so that their log lines are formatted and kept.
struct Parent : PMBusProtocol {
  bool LoadFromCache(const unsigned char*, int) override { return true; }
};

struct Host {
  zel::Bench bench;
  Parent parent;
  Host() { parent.Init(bench.controller, 1, Json::Value()); }
};

Host& TheHost() {
  static Host host;
  return host;
}

template <class Unit>
using Parse = int (Unit::*)(const unsigned char*, int);
// What the unit holds before the part, set from the part's own bytes.
template <class Unit>
using Prime = void (*)(Unit& unit, const uint8_t* data, size_t size);

// The part copied to a heap block of exactly its size.
template <class Unit>
int RunOn(Unit& unit, Parse<Unit> parse, const uint8_t* data, size_t size) {
  std::unique_ptr<unsigned char[]> exact(new unsigned char[size]);
  if (size > 0) std::memcpy(exact.get(), data, size);
  return (unit.*parse)(exact.get(), static_cast<int>(size));
}

// The unit as a cached image of `count` zero channel (or module) records leaves it: the count
// fixed for the replies that follow.
template <class Unit, class Head, class Channel>
void LoadCount(Unit& unit, size_t countOffset, uint8_t count) {
  std::vector<unsigned char> image(sizeof(Head) + sizeof(Channel) * count, 0);
  image[countOffset] = count;
  unit.LoadFromCache(image.data(), static_cast<int>(image.size()));
}

// An AC alarm part follows an analog reply of as many channels as its leading byte says; a
// rectifier state or alarm part follows one of its module count (byte 1).
void ChannelsOfByte0(RVT2600AC& unit, const uint8_t* data, size_t size) {
  if (size > 0)
    LoadCount<RVT2600AC, tele_c_rvt2600_ac, tele_c_rvt2600_ac_channel>(unit, 16, data[0]);
}

void ModulesOfByte1(RVT2600RC& unit, const uint8_t* data, size_t size) {
  if (size > 1)
    LoadCount<RVT2600RC, tele_c_rvt2600_rc, tele_c_rvt2600_rc_channel>(unit, 57, data[1]);
}

void Expect(bool ok, std::string& broken, const char* rule) {
  if (!ok && broken.empty()) broken = rule;
}

// A result is -1 or a byte count, and a channel (module) list stays as long as the count the
// image carries.
void Check(const RVT2600AC& unit, int result, std::string& broken) {
  Expect(result >= -1, broken, "AC parse result below -1");
  Expect(unit.channels.size() == unit.record.channel_count, broken,
         "AC channel list differs from its count");
}

void Check(const RVT2600RC& unit, int result, std::string& broken) {
  Expect(result >= -1, broken, "RC parse result below -1");
  Expect(unit.channels.size() == unit.record.module_count, broken,
         "RC module list differs from its count");
}

void Check(const RVT2600DC&, int result, std::string& broken) {
  Expect(result >= -1, broken, "DC parse result below -1");
}

// One operation on a fresh unit of its parent. An analog part fixes the count in the first
// reply; `again` hands the same part to the unit it fixed, which must give the same result.
template <class Unit>
std::function<int(const uint8_t*, size_t, std::string&)> Operation(Parse<Unit> parse,
                                                                   Prime<Unit> prime = nullptr,
                                                                   bool again = false) {
  return [parse, prime, again](const uint8_t* data, size_t size, std::string& broken) {
    Host& host = TheHost();
    host.bench.controller->ClearJournal();
    auto unit = std::make_shared<Unit>();
    unit->InitV(&host.parent, kUnitId, Json::Value());
    if (prime != nullptr) prime(*unit, data, size);
    const int result = RunOn(*unit, parse, data, size);
    Check(*unit, result, broken);
    if (again) {
      const int second = RunOn(*unit, parse, data, size);
      Check(*unit, second, broken);
      Expect(second == result, broken, "the same analog part gave another result the second time");
    }
    return result;
  };
}

const std::vector<ParseOp> kOps = {
    {"parse40_41", false, false, Operation<RVT2600AC>(&RVT2600AC::parse40_41, nullptr, true)},
    {"parse40_43", false, false, Operation<RVT2600AC>(&RVT2600AC::parse40_43)},
    {"parse40_44", false, false, Operation<RVT2600AC>(&RVT2600AC::parse40_44, ChannelsOfByte0)},
    {"parse41_41", false, false, Operation<RVT2600RC>(&RVT2600RC::parse41_41, nullptr, true)},
    {"parse41_43", false, false, Operation<RVT2600RC>(&RVT2600RC::parse41_43, ModulesOfByte1)},
    {"parse41_44", false, false, Operation<RVT2600RC>(&RVT2600RC::parse41_44, ModulesOfByte1)},
    {"parse40_46", true, false, Operation<RVT2600RC>(&RVT2600RC::parse40_46)},
    {"parse42_46", true, true, Operation<RVT2600RC>(&RVT2600RC::parse42_46)},
    {"parse42_41", false, false, Operation<RVT2600DC>(&RVT2600DC::parse42_41)},
    {"parse42_44", false, false, Operation<RVT2600DC>(&RVT2600DC::parse42_44)},
};

}  // namespace

const std::vector<ParseOp>& ParseOps() {
  return kOps;
}

const ParseOp* FindParseOp(const std::string& name) {
  for (const ParseOp& op : kOps)
    if (name == op.name) return &op;
  return nullptr;
}

}  // namespace rvt_fuzz
