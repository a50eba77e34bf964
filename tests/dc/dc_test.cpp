// The DC distribution unit: record, reply parsers, lookups, cache, rounds and alarms.
#include <gtest/gtest.h>
#include <json/json.h>

#include <cstring>
#include <functional>

#include "HostTest.h"
#include "VirtualSlot.h"
#include "dc/RVT2600DC.h"

namespace {

using Record = tele_c_rvt2600_dc;
using Unit = PMBusPowerDC<Record, 5108>;
using zel::FromHex;

constexpr unsigned kDataId = 21;

// n bytes counting up from first, as hex.
std::string Counting(int n, int first) {
  std::vector<unsigned char> bytes;
  for (int k = 0; k < n; ++k) bytes.push_back(static_cast<unsigned char>(first + k));
  return zel::ToHex(bytes);
}

std::string Bytes(const Record& r) {
  return zel::ToHex(RecordBytes(r), sizeof r);
}

void SetBytes(LeF32& f, const char* hex) {
  const auto b = FromHex(hex);
  std::memcpy(f.b, b.data(), 4);
}

class DCTest : public rvt_test::VirtualClockTest {
 protected:
  std::shared_ptr<RVT2600DC> MakeUnit(const Json::Value& settings = Json::Value()) {
    auto unit = std::make_shared<RVT2600DC>();
    parent.Init(bench.controller, 1, Json::Value());
    unit->InitV(&parent, kDataId, settings);
    return unit;
  }

  // A record whose every byte is known, so that a part that leaves a field alone shows.
  static Record Filled() {
    Record r;
    std::memset(&r, 0x5A, sizeof r);
    r.data_id = kDataId;
    return r;
  }

  // The debug line and the result of one parse42_41 call.
  static std::pair<std::string, int> Analog(Unit& unit, const unsigned char* data, int remaining) {
    testing::internal::CaptureStdout();
    const int result = unit.parse42_41(data, remaining);
    return {testing::internal::GetCapturedStdout(), result};
  }

  // One reply part, parsed by a fresh unit whose record is Filled().
  struct PartCase {
    const char* note;
    std::string hex;
    int remaining;  // -1: all of hex
    int result;
    std::function<void(Record&)> changes;  // what the part stores
    std::vector<std::string> logs;
    std::string output;  // standard output
  };

  void CheckParts(const std::vector<PartCase>& cases,
                  int (Unit::*parse)(const unsigned char*, int)) {
    for (const PartCase& c : cases) {
      SCOPED_TRACE(c.note);
      bench.controller->ClearJournal();
      auto unit = MakeUnit();
      unit->record = Filled();
      Record expected = Filled();
      c.changes(expected);
      const auto part = FromHex(c.hex);
      const int remaining = c.remaining < 0 ? static_cast<int>(part.size()) : c.remaining;
      testing::internal::CaptureStdout();
      EXPECT_EQ(((*unit).*parse)(part.data(), remaining), c.result);
      EXPECT_EQ(testing::internal::GetCapturedStdout(), c.output);
      EXPECT_EQ(Bytes(unit->record), Bytes(expected));
      EXPECT_EQ(Logs(), c.logs);
    }
  }

  std::vector<rule_value> LastRules() const {
    const auto batches = bench.controller->Journal(zel::Event::Kind::Rules);
    return batches.empty() ? std::vector<rule_value>{} : batches.back().rules;
  }

  rvt_test::PlainDevice parent;
};

TEST_F(DCTest, ClassShape) {
  EXPECT_EQ(VirtualSlot(&Unit::Get_Value), 0);
  EXPECT_EQ(
      VirtualSlot(static_cast<bool (Unit::*)(const unsigned char*, int)>(&Unit::LoadFromCache)), 2);
  EXPECT_EQ(VirtualSlot(&Unit::RoundDone), 6);
  EXPECT_EQ(VirtualSlot(&Unit::InitV), 11);
  EXPECT_EQ(VirtualSlot(&Unit::parse42_41), 31);
  EXPECT_EQ(VirtualSlot(&Unit::parse42_44), 32);
  EXPECT_EQ(VirtualSlot(&Unit::DoImpCheckAlert), 33);

  const RVT2600DC plain;
  const RVT2600DC named(std::string("RVT2600 V2"));
  for (const RVT2600DC* unit : {&plain, &named}) {
    EXPECT_EQ(unit->DeviceType(), "rvt2600-dc");
    EXPECT_FLOAT_EQ(unit->diff_v, 0.1f);
    EXPECT_FLOAT_EQ(unit->diff_i, 20.0f);
    EXPECT_EQ(Bytes(unit->record), std::string(2 * 166, '0'));
  }
  EXPECT_EQ(plain.model_text, "");
  EXPECT_EQ(named.model_text, "RVT2600 V2");
}

TEST_F(DCTest, InitVWritesDataIdAndThresholds) {
  Json::Value settings;
  Json::Reader().parse(R"({"appSetting":{"diff_v":"0.5","diff_i":3}})", settings);
  auto unit = MakeUnit(settings);
  EXPECT_EQ(unit->record.data_id, kDataId);
  EXPECT_EQ(unit->DataId(), kDataId);
  EXPECT_FLOAT_EQ(unit->diff_v, 0.5f);
  EXPECT_FLOAT_EQ(unit->diff_i, 3.0f);
}

TEST_F(DCTest, AnalogParts) {
  const std::string overM =
      "PMBusPowerDC<TeleDC, RT_DC>:ProcotolError 21 read dc_m is 5, MAX_M is 4";
  const std::string overN =
      "PMBusPowerDC<TeleDC, RT_DC>:ProcotolError 21 read dc_n is 10, MAX_N is 9";
  const std::string overP =
      "PMBusPowerDC<TeleDC, RT_DC>:ProcotolError 21 read p_count is 4, support user_p max is 3";
  // v 53.0, i 10.0
  const std::string vi = "00005442 00002041";
  auto setVI = [](Record& r) {
    r.v = 53.0f;
    r.i = 10.0f;
  };
  auto m2 = [&](Record& r) {
    setVI(r);
    r.dc_m = 2;
    r.m_value[0] = 1.0f;
    r.m_value[1] = 2.0f;
    r.dc_n = 0;
  };
  CheckParts(
      {
          {"m 2, n 0, p 0: ends exactly at remaining",
           vi + "02 0000803F 00000040 00 00",
           -1,
           19,
           [&](Record& r) {
             m2(r);
             r.p_count = 0;
           },
           {},
           "parse 42 41: 0 0 54 42\n"},
          {"the same, one byte short: the p count is not read",
           vi + "02 0000803F 00000040 00 00",
           18,
           -1,
           m2,
           {"PMBusPowerAC:ProcotolError 21 read 42_41 read overflow 19 - 18"},
           "parse 42 41: 0 0 54 42\n"},
          {"m 5: logged, values skipped, n read after them",
           vi + "05" + Counting(20, 0xA0) + "01 00004040 00",
           -1,
           35,
           [&](Record& r) {
             setVI(r);
             r.dc_m = 5;
             r.dc_n = 1;
             r.n_value[0] = 3.0f;
             r.p_count = 0;
           },
           {overM},
           "parse 42 41: 0 0 54 42\n"},
          {"n 10: logged, values skipped",
           vi + "00 0A" + Counting(40, 0x80) + "00",
           -1,
           51,
           [&](Record& r) {
             setVI(r);
             r.dc_m = 0;
             r.dc_n = 10;
             r.p_count = 0;
           },
           {overN},
           "parse 42 41: 0 0 54 42\n"},
          {"p 4: logged, the rest of the reply counts as used",
           vi + "00 00 04 0000803F" + Counting(25, 1),
           -1,
           40,
           [&](Record& r) {
             setVI(r);
             r.dc_m = 0;
             r.dc_n = 0;
             r.p_count = 4;
           },
           {overP},
           "parse 42 41: 0 0 54 42\n"},
          {"markers: -0.1 in user P only, not in v and i",
           "FFFFFFFF 20202020 00 00 03 20202020 00000000 00010101",
           -1,
           23,
           [](Record& r) {
             SetBytes(r.v, "FFFFFFFF");
             SetBytes(r.i, "20202020");
             r.dc_m = 0;
             r.dc_n = 0;
             r.p_count = 3;
             r.user_p[0] = -0.1f;
             r.user_p[1] = 0.0f;
             SetBytes(r.user_p[2], "00010101");
           },
           {},
           "parse 42 41: ff ff ff ff\n"},
          {"m 3 with one value left: the values read stay",
           vi + "03 0000803F",
           -1,
           -1,
           [&](Record& r) {
             setVI(r);
             r.dc_m = 3;
             r.m_value[0] = 1.0f;
           },
           {"PMBusPowerAC:ProcotolError 21 read 42_41 read overflow 17 - 13"},
           "parse 42 41: 0 0 54 42\n"},
          {"three bytes left: the debug line shows three",
           "42 41 01 EE",
           3,
           -1,
           [](Record&) {},
           {"PMBusPowerAC:ProcotolError 21 read 42_41 read overflow 4 - 3"},
           "parse 42 41: 42 41 1\n"},
      },
      &Unit::parse42_41);
}

// Two units cut from one payload the way the root does: the first refuses its P count and
// takes the rest; the second is handed no bytes and must not show what lies beyond them.
TEST_F(DCTest, AnalogPartAfterARefusedPCountReadsNothingBeyondTheReply) {
  auto first = MakeUnit();
  auto second = std::make_shared<RVT2600DC>();
  second->InitV(&parent, 22, Json::Value());

  const auto reply = FromHex("00005442 00002041 00 00 04 0000803F 00004040");
  std::vector<unsigned char> buffer(reply);
  buffer.insert(buffer.end(), {0xEE, 0xEE, 0xEE, 0xEE});  // stale bytes after the reply
  const int infoLen = static_cast<int>(reply.size());

  const auto [firstDebug, used] = Analog(*first, buffer.data(), infoLen);
  EXPECT_EQ(used, infoLen);
  EXPECT_EQ(firstDebug, "parse 42 41: 0 0 54 42\n");
  const auto [secondDebug, result] = Analog(*second, buffer.data() + used, infoLen - used);
  EXPECT_EQ(secondDebug, "parse 42 41:\n");
  EXPECT_EQ(result, -1);
  EXPECT_EQ(Logs(), (std::vector<std::string>{
                        "PMBusPowerDC<TeleDC, RT_DC>:ProcotolError 21 read p_count is 4, support "
                        "user_p max is 3",
                        "PMBusPowerAC:ProcotolError 22 read 42_41 read overflow 4 - 0"}));
  EXPECT_EQ(second->record.v, 0.0f);
}

TEST_F(DCTest, AlarmParts) {
  auto fuses = [](Record& r, int n, int first) {
    for (int k = 0; k < n; ++k) r.alert_m[k] = static_cast<uint8_t>(first + k);
  };
  auto users = [](Record& r, int n, int first) {
    for (int k = 0; k < n; ++k) r.alert_p[k] = static_cast<uint8_t>(first + k);
  };
  const std::string full = "02 40" + Counting(64, 1) + "0D" + Counting(13, 0x70);
  auto all64 = [&](Record& r) {
    r.v_state = 2;
    r.alert_m_count = 64;
    fuses(r, 64, 1);
    r.alert_p_count = 13;
  };
  CheckParts(
      {
          {"a 2, q 1",
           "01 02 0003 01 07",
           -1,
           6,
           [](Record& r) {
             r.v_state = 1;
             r.alert_m_count = 2;
             r.alert_m[0] = 0;
             r.alert_m[1] = 3;
             r.alert_p_count = 1;
             r.alert_p[0] = 7;
           },
           {},
           ""},
          {"a 0, q 0",
           "03 00 00",
           -1,
           3,
           [](Record& r) {
             r.v_state = 3;
             r.alert_m_count = 0;
             r.alert_p_count = 0;
           },
           {},
           ""},
          {"a 70: 64 states kept, q read at offset 72",
           "00 46" + Counting(70, 1) + "01 09",
           -1,
           74,
           [&](Record& r) {
             r.v_state = 0;
             r.alert_m_count = 70;
             fuses(r, 64, 1);
             r.alert_p_count = 1;
             r.alert_p[0] = 9;
           },
           {},
           ""},
          {"a 64, q 13: ends exactly at remaining",
           full,
           -1,
           80,
           [&](Record& r) {
             all64(r);
             users(r, 13, 0x70);
           },
           {},
           ""},
          {"a 64, q 13, one byte short: the user states are not read",
           full,
           79,
           -1,
           all64,
           {"PMBusPowerAC:ProcotolError 21 read 42_44 read overflow 80 - 79"},
           ""},
          {"q 14: logged, 13 kept",
           "00 00 0E" + Counting(14, 1),
           -1,
           17,
           [&](Record& r) {
             r.v_state = 0;
             r.alert_m_count = 0;
             r.alert_p_count = 14;
             users(r, 13, 1);
           },
           {"PMBusPowerDC<TeleDC, RT_DC>:ProcotolError 21 read 42_44 p is 14,  alert_p is 13"},
           ""},
      },
      &Unit::parse42_44);
}

TEST_F(DCTest, Lookups) {
  auto unit = MakeUnit();
  EXPECT_EQ(rvt_test::OutOfRangeText([&] { unit->Get_Value(0, "v"); }), "数据未就绪");
  unit->record.v = 53.5f;
  unit->record.i = -12.25f;
  unit->RoundDone();
  Advance(60);
  EXPECT_FLOAT_EQ(unit->Get_Value(0, "v"), 53.5f);
  EXPECT_FLOAT_EQ(unit->Get_Value(0, "i"), -12.25f);
  for (const char* name : {"V", "I", "", "vi", "x"}) {
    EXPECT_EQ(rvt_test::OutOfRangeText([&] { unit->Get_Value(0, name); }), "数据未就绪") << name;
  }
  Advance(1);
  EXPECT_EQ(rvt_test::OutOfRangeText([&] { unit->Get_Value(0, "v"); }), "数据已超时");
}

TEST_F(DCTest, CacheTakesExactlyOneRecord) {
  Record image = Filled();
  image.data_id = 99;
  image.v = 48.25f;
  image.i = 7.5f;
  const std::string bytes(reinterpret_cast<const char*>(&image), sizeof image);

  auto unit = MakeUnit();
  const Record before = unit->record;
  for (const std::string& wrong : {bytes.substr(0, 165), bytes + '\0'}) {
    EXPECT_FALSE(unit->LoadFromCache(wrong)) << wrong.size();
    EXPECT_EQ(Bytes(unit->record), Bytes(before));
    EXPECT_EQ(rvt_test::OutOfRangeText([&] { unit->Get_Value(0, "v"); }), "数据未就绪");
  }
  EXPECT_TRUE(unit->LoadFromCache(bytes));
  EXPECT_EQ(Bytes(unit->record), Bytes(image));  // data id and time stamp included
  EXPECT_FLOAT_EQ(unit->Get_Value(0, "v"), 48.25f);
  EXPECT_FLOAT_EQ(unit->Get_Value(0, "i"), 7.5f);
}

TEST_F(DCTest, RoundPublishesTheRecordAndItsVoltageRules) {
  struct Case {
    uint8_t v_state;
    bool low;
    bool high;
  } cases[] = {{0, false, false}, {1, true, false}, {2, false, true}, {3, false, false}};
  auto unit = MakeUnit();
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.v_state));
    bench.controller->ClearJournal();
    unit->record.v_state = c.v_state;
    unit->record.alert_m_count = 0;
    unit->RoundDone();

    const auto rules = LastRules();
    ASSERT_EQ(rules.size(), 2u);
    const struct {
      const char* id;
      const char* code;
      const char* name;
      bool active;
    } expected[] = {{"DC_0", "06008", "输出电压过低告警", c.low},
                    {"DC_1", "06009", "输出电压过高告警", c.high}};
    for (size_t k = 0; k < 2; ++k) {
      EXPECT_EQ(rules[k].seq, k + 1);
      EXPECT_EQ(rules[k].level, 3);
      EXPECT_EQ(rules[k].id, expected[k].id);
      EXPECT_EQ(rules[k].code, expected[k].code);
      EXPECT_EQ(rules[k].name, expected[k].name);
      EXPECT_EQ(rules[k].text, expected[k].name);
      EXPECT_EQ(rules[k].active != 0, expected[k].active);
    }
    const auto published = bench.controller->Journal(zel::Event::Kind::Publish);
    ASSERT_EQ(published.size(), 1u);
    EXPECT_EQ(published[0].dataType, 5108);
    EXPECT_EQ(zel::ToHex(published[0].bytes), Bytes(unit->record));
    const auto saved = bench.controller->Journal(zel::Event::Kind::History);
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(zel::ToHex(saved[0].bytes), Bytes(unit->record));
    Advance(2);
  }
  // Stamped with the round's local time: 2026-01-01 08:00:06.
  const std::vector<unsigned char> stamp(unit->record.time_stamp.bytes,
                                         unit->record.time_stamp.bytes + 7);
  EXPECT_EQ(stamp, (std::vector<unsigned char>{0xEA, 0x07, 1, 1, 8, 0, 6}));
}

TEST_F(DCTest, FuseRulesOnlyForExactlyAllFuses) {
  auto unit = MakeUnit();
  unit->record.alert_m[4] = 3;  // fuse 5 faulty
  for (int count : {63, 64, 65}) {
    SCOPED_TRACE(count);
    unit->record.alert_m_count = static_cast<uint8_t>(count);
    unit->RoundDone();
    const auto rules = LastRules();
    if (count != 64) {
      EXPECT_EQ(rules.size(), 2u);
      continue;
    }
    ASSERT_EQ(rules.size(), 66u);
    for (size_t k = 2; k < rules.size(); ++k) {
      const std::string fuse = std::to_string(k - 1);
      EXPECT_EQ(rules[k].seq, k + 1);
      EXPECT_EQ(rules[k].level, 1);
      EXPECT_EQ(rules[k].id, "DC_3");
      EXPECT_EQ(rules[k].code, "06001");
      EXPECT_EQ(rules[k].name, "电池熔丝故障告警");
      EXPECT_EQ(rules[k].text, "直流" + fuse + "电池熔丝故障告警");
      EXPECT_EQ(rules[k].active != 0, rules[k].seq == 7) << fuse;
    }
    EXPECT_EQ(rules[6].text, "直流5电池熔丝故障告警");
    EXPECT_EQ(rules[65].seq, 66u);
  }
  EXPECT_EQ(bench.controller->Journal(zel::Event::Kind::Publish).size(), 3u);
}

TEST_F(DCTest, MovementVerdict) {
  Json::Value settings;
  Json::Reader().parse(R"({"appSetting":{"diff_v":0.5,"diff_i":2}})", settings);
  auto unit = MakeUnit(settings);
  struct Step {
    const char* note;
    float v;
    float i;
    bool moved;
  } steps[] = {
      {"first round: not yet ready", 50.0f, 10.0f, true},
      {"nothing moved", 50.0f, 10.0f, false},
      {"v by less than diff_v", 50.25f, 10.0f, false},
      {"v by diff_v from the last round", 50.75f, 10.0f, true},
      {"i by less than diff_i", 50.75f, 11.5f, false},
      {"i down by diff_i", 50.75f, 9.5f, true},
  };
  for (const Step& s : steps) {
    unit->record.v = s.v;
    unit->record.i = s.i;
    unit->RoundDone();
    EXPECT_EQ(unit->moved, s.moved) << s.note;
  }

  // After a restart the cached image is the last round.
  auto restarted = MakeUnit(settings);
  ASSERT_TRUE(restarted->LoadFromCache(RecordBytes(unit->record), 166));
  restarted->RoundDone();
  EXPECT_FALSE(restarted->moved);
}

}  // namespace
