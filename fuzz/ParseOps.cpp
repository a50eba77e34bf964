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
std::shared_ptr<Unit> MakeUnit() {
  Host& host = TheHost();
  host.bench.controller->ClearJournal();
  auto unit = std::make_shared<Unit>();
  unit->InitV(&host.parent, kUnitId, Json::Value());
  return unit;
}

template <class Unit>
using Parse = int (Unit::*)(const unsigned char*, int);

// The part copied to a heap block of exactly its size.
template <class Unit>
int RunOn(Unit& unit, Parse<Unit> parse, const uint8_t* data, size_t size) {
  std::unique_ptr<unsigned char[]> exact(new unsigned char[size]);
  if (size > 0) std::memcpy(exact.get(), data, size);
  return (unit.*parse)(exact.get(), static_cast<int>(size));
}

// The unit as a cached image with `count` zero channel (or module) records leaves it: the
// count fixed for the replies that follow.
template <class Unit, class Head, class Channel>
void Prime(Unit& unit, size_t countOffset, uint8_t count) {
  std::vector<unsigned char> image(sizeof(Head) + sizeof(Channel) * count, 0);
  image[countOffset] = count;
  unit.LoadFromCache(image.data(), static_cast<int>(image.size()));
}

void Expect(bool ok, std::string& broken, const char* rule) {
  if (!ok && broken.empty()) broken = rule;
}

// The checks every part's result and unit pass: a result is -1 or a byte count, and the
// channel list stays as long as the count the image carries.
void CheckAC(const RVT2600AC& unit, int result, std::string& broken) {
  Expect(result >= -1, broken, "AC parse result below -1");
  Expect(unit.channels.size() == unit.record.channel_count, broken,
         "AC channel list differs from its count");
}

void CheckRC(const RVT2600RC& unit, int result, std::string& broken) {
  Expect(result >= -1, broken, "RC parse result below -1");
  Expect(unit.channels.size() == unit.record.module_count, broken,
         "RC module list differs from its count");
}

// The analog replies fix the count in the first reply; the same part on the unit that it
// fixed must give the same result.
template <class Unit, class Check>
int FirstAndAgain(Parse<Unit> parse, const uint8_t* data, size_t size, std::string& broken,
                  Check check) {
  auto unit = MakeUnit<Unit>();
  const int first = RunOn(*unit, parse, data, size);
  check(*unit, first, broken);
  const int again = RunOn(*unit, parse, data, size);
  check(*unit, again, broken);
  Expect(again == first, broken, "the same analog part gave another result the second time");
  return first;
}

template <class Unit, class Check>
int Once(Parse<Unit> parse, const uint8_t* data, size_t size, std::string& broken, Check check) {
  auto unit = MakeUnit<Unit>();
  const int result = RunOn(*unit, parse, data, size);
  check(*unit, result, broken);
  return result;
}

// An AC alarm part follows an analog reply of as many channels as its leading byte says; a
// rectifier state or alarm part follows one of its module count (byte 1).
int AcAlarm(const uint8_t* data, size_t size, std::string& broken) {
  auto unit = MakeUnit<RVT2600AC>();
  if (size > 0) Prime<RVT2600AC, tele_c_rvt2600_ac, tele_c_rvt2600_ac_channel>(*unit, 16, data[0]);
  const int result = RunOn<RVT2600AC>(*unit, &RVT2600AC::parse40_44, data, size);
  CheckAC(*unit, result, broken);
  return result;
}

int RcModules(Parse<RVT2600RC> parse, const uint8_t* data, size_t size, std::string& broken) {
  auto unit = MakeUnit<RVT2600RC>();
  if (size > 1) Prime<RVT2600RC, tele_c_rvt2600_rc, tele_c_rvt2600_rc_channel>(*unit, 57, data[1]);
  const int result = RunOn<RVT2600RC>(*unit, parse, data, size);
  CheckRC(*unit, result, broken);
  return result;
}

void CheckDC(const RVT2600DC&, int result, std::string& broken) {
  Expect(result >= -1, broken, "DC parse result below -1");
}

const std::vector<ParseOp> kOps = {
    {"parse40_41", false, false,
     [](const uint8_t* d, size_t n, std::string& b) {
       return FirstAndAgain<RVT2600AC>(&RVT2600AC::parse40_41, d, n, b, CheckAC);
     }},
    {"parse40_43", false, false,
     [](const uint8_t* d, size_t n, std::string& b) {
       return Once<RVT2600AC>(&RVT2600AC::parse40_43, d, n, b, CheckAC);
     }},
    {"parse40_44", false, false, AcAlarm},
    {"parse41_41", false, false,
     [](const uint8_t* d, size_t n, std::string& b) {
       return FirstAndAgain<RVT2600RC>(&RVT2600RC::parse41_41, d, n, b, CheckRC);
     }},
    {"parse41_43", false, false,
     [](const uint8_t* d, size_t n, std::string& b) {
       return RcModules(&RVT2600RC::parse41_43, d, n, b);
     }},
    {"parse41_44", false, false,
     [](const uint8_t* d, size_t n, std::string& b) {
       return RcModules(&RVT2600RC::parse41_44, d, n, b);
     }},
    {"parse40_46", true, false,
     [](const uint8_t* d, size_t n, std::string& b) {
       return Once<RVT2600RC>(&RVT2600RC::parse40_46, d, n, b, CheckRC);
     }},
    {"parse42_46", true, true,
     [](const uint8_t* d, size_t n, std::string& b) {
       return Once<RVT2600RC>(&RVT2600RC::parse42_46, d, n, b, CheckRC);
     }},
    {"parse42_41", false, false,
     [](const uint8_t* d, size_t n, std::string& b) {
       return Once<RVT2600DC>(&RVT2600DC::parse42_41, d, n, b, CheckDC);
     }},
    {"parse42_44", false, false,
     [](const uint8_t* d, size_t n, std::string& b) {
       return Once<RVT2600DC>(&RVT2600DC::parse42_44, d, n, b, CheckDC);
     }},
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
