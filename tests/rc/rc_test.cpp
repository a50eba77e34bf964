// The rectifier unit: its five parsers, cache loading, round completion and module alarms.
#include <gtest/gtest.h>
#include <json/json.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "HostTest.h"
#include "VirtualSlot.h"
#include "rc/RVT2600RC.h"

namespace {

using Parse = int (RVT2600RC::*)(const unsigned char*, int);
using Bytes = std::vector<unsigned char>;

constexpr unsigned kId = 7;

// Replies as a three-module rectifier group sends them (spaces between fields).
// 41/41: flags, group 50.0, 3 modules; per module analog, count 4, four user values. Module 1
// ends with a marker, module 2's analog is FF FF FF FF (kept as sent) and its user values hold
// the marker 20202020 and a zero.
const std::string k41_41 =
    "00 00004842 03"
    " 0000803F 04 00002041 0000803F 00000040 FFFFFFFF"
    " FFFFFFFF 04 00004040 00002041 20202020 00000000"
    " 00000040 04 00000040 00000040 00000040 00000040";
// 41/43: flags, 3 modules; per module three state bytes, count 1, user state.
const std::string k41_43 = "00 03 010203 01 11 040506 01 22 070809 01 33";
// 41/44: flags, 3 modules; per module fault, count 4, user alarm. Module 2 faulty, module 3
// reports 2.
const std::string k41_44 = "00 03 00 04 01020304 01 04 05060708 02 04 090A0B0C";
// 40/46: five AC parameters (1, 2, 3, 10, 50), then the user-defined count.
const std::string kAcParams = "0000803F 00000040 00004040 00002041 00004842";
// 42/46: two DC parameters (2, 3), count 5, twenty user-defined bytes.
const std::string k42_46 = "00000040 00004040 05 0102030405060708090A0B0C0D0E0F1011121314";

struct Step {
  Parse parse;
  std::string reply;
};
const std::vector<Step> kKnown = {{&RVT2600RC::parse41_41, k41_41},
                                  {&RVT2600RC::parse41_43, k41_43},
                                  {&RVT2600RC::parse41_44, k41_44}};

template <class T>
std::string Hex(const T& field) {
  return zel::ToHex(reinterpret_cast<const unsigned char*>(&field), sizeof field);
}
// "00 0a FF" as Hex() writes it.
std::string Norm(const std::string& spaced) {
  return zel::ToHex(zel::FromHex(spaced));
}
std::string Hex(const Bytes& b, size_t offset, size_t n) {
  return zel::ToHex(b.data() + offset, n);
}
std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int k = 0; k < n; ++k) out += s;
  return out;
}
std::string ModuleText(size_t n) {
  return "模块" + std::to_string(n) + "整流模块故障告警";
}

struct ParseCase {
  const char* what;
  std::vector<Step> before;
  std::string reply;
  int remaining;  // -1: the whole reply
  int result;
  std::vector<std::string> logs;
  std::function<void(const RVT2600RC&)> check;
};

class RcTest : public rvt_test::VirtualClockTest {
 protected:
  void SetUp() override {
    VirtualClockTest::SetUp();
    bench.Start(parent, kId, Json::Value());
    unit = Fresh();
  }

  std::shared_ptr<RVT2600RC> Fresh() {
    auto u = std::make_shared<RVT2600RC>();
    u->InitV(&parent, kId, Json::Value());
    return u;
  }

  // Hands the parser exactly `remaining` bytes: the reply, cut short or followed by 0xEE.
  static int Feed(RVT2600RC& u, Parse parse, const std::string& hex, int remaining = -1) {
    const Bytes reply = zel::FromHex(hex);
    if (remaining < 0) remaining = static_cast<int>(reply.size());
    std::unique_ptr<unsigned char[]> part(new unsigned char[remaining]);
    for (int k = 0; k < remaining; ++k)
      part[k] = static_cast<size_t>(k) < reply.size() ? reply[k] : 0xEE;
    return (u.*parse)(part.get(), remaining);
  }

  void Run(Parse parse, const std::vector<ParseCase>& cases) {
    for (const ParseCase& c : cases) {
      SCOPED_TRACE(c.what);
      auto u = Fresh();
      for (const Step& s : c.before) ASSERT_GT(Feed(*u, s.parse, s.reply), 0);
      bench.controller->ClearJournal();
      EXPECT_EQ(Feed(*u, parse, c.reply, c.remaining), c.result);
      EXPECT_EQ(Logs(), c.logs);
      if (c.check) c.check(*u);
    }
  }

  Bytes Published(size_t k) const {
    const auto events = bench.controller->Journal(zel::Event::Kind::Publish);
    EXPECT_LT(k, events.size());
    if (k >= events.size()) return {};
    EXPECT_EQ(events[k].dataType, 5107);
    return events[k].bytes;
  }

  // A cached image: head with data id 99, group 12.5 and `count`, then channelBytes bytes
  // counting 1, 2, 3, ...
  static Bytes CacheImage(uint8_t count, size_t channelBytes) {
    tele_c_rvt2600_rc head{};
    head.data_id = 99;
    head.group_analog = 12.5f;
    head.module_count = count;
    Bytes out(RecordBytes(head), RecordBytes(head) + sizeof head);
    for (size_t k = 0; k < channelBytes; ++k) out.push_back(static_cast<unsigned char>(k + 1));
    return out;
  }

  rvt_test::PlainDevice parent;
  std::shared_ptr<RVT2600RC> unit;
};

TEST(RcShapeTest, SlotsAndDeviceType) {
  using LoadBytes = bool (RVT2600RC::*)(const unsigned char*, int);
  using LoadString = bool (RVT2600RC::*)(const std::string&);
  EXPECT_EQ(VirtualSlot(&RVT2600RC::Get_Value), 0);
  EXPECT_EQ(VirtualSlot(static_cast<LoadString>(&RVT2600RC::LoadFromCache)), 1);
  EXPECT_EQ(VirtualSlot(static_cast<LoadBytes>(&RVT2600RC::LoadFromCache)), 2);
  EXPECT_EQ(VirtualSlot(&RVT2600RC::RoundDone), 6);
  EXPECT_EQ(VirtualSlot(&RVT2600RC::InitV), 11);
  EXPECT_EQ(VirtualSlot(&RVT2600RC::parse41_41), 31);
  EXPECT_EQ(VirtualSlot(&RVT2600RC::parse41_43), 32);
  EXPECT_EQ(VirtualSlot(&RVT2600RC::parse41_44), 33);
  EXPECT_EQ(VirtualSlot(&RVT2600RC::parse40_46), 34);
  EXPECT_EQ(VirtualSlot(&RVT2600RC::parse42_46), 35);
  EXPECT_EQ(VirtualSlot(&RVT2600RC::DoImpCheckAlert), 36);
  EXPECT_EQ(RVT2600RC().DeviceType(), "rvt2600-rc");
}

TEST_F(RcTest, AnalogReply) {
  const std::string wrongCount =  // module 2 says 2 values
      "00 00005642 03"
      " 00000040 04 00004040 00004040 00004040 00004040"
      " 00004040 02 00000040 00000040"
      " 0000803F 04 0000803F 0000803F 0000803F 0000803F";
  // A module unlike every stored one, so that a module it overwrote shows.
  const std::string module = " 0000E040 04 0000C040 0000C040 0000C040 0000C040";
  const std::string oldModule2 = "00004040 00002041 00000000 00000000";
  const char* countLog =
      "PMBusPowerRC<TeleRC,TeleRCChannel,RT_RC>:ProcotolError 7 read 41_41 p is 2 not 4";
  const std::string changed =
      "PMBusPowerRC<TeleRC,TeleRCChannel,RT_RC>:ProcotolError 7 read 41_41 channel_count "
      "changed ";
  Run(&RVT2600RC::parse41_41,
      {
          {"three modules",
           {},
           k41_41,
           -1,
           69,
           {},
           [&](const RVT2600RC& u) {
             EXPECT_EQ(u.record.module_count, 3);
             ASSERT_EQ(u.channels.size(), 3u);
             EXPECT_EQ(Hex(u.record.group_analog), "00004842");
             EXPECT_EQ(Hex(u.channels[0].user_analog), Norm("00002041 0000803F 00000040 00000000"));
             EXPECT_EQ(Hex(u.channels[1].analog), "FFFFFFFF");
             EXPECT_EQ(Hex(u.channels[1].user_analog), Norm(oldModule2));
             EXPECT_EQ(Hex(u.channels[2].analog), "00000040");
             EXPECT_EQ(u.channels[2].user_analog_count, 4);
           }},
          {"bytes after the part", {}, k41_41, 80, 69, {}, nullptr},
          {"wrong count byte",
           kKnown,
           wrongCount,
           -1,
           61,
           {countLog},
           [&](const RVT2600RC& u) {
             EXPECT_EQ(Hex(u.channels[0].user_analog), Norm(Repeat("00004040", 4)));
             EXPECT_EQ(Hex(u.channels[1].analog), "00004040");
             EXPECT_EQ(u.channels[1].user_analog_count, 2);
             EXPECT_EQ(Hex(u.channels[1].user_analog), Norm(oldModule2));
             EXPECT_EQ(Hex(u.channels[2].user_analog), Norm(Repeat("0000803F", 4)));
           }},
          {"skipped block cut short",
           kKnown,
           wrongCount,
           36,
           -1,
           {countLog, "PMBusPowerAC:ProcotolError 7 read 41_41 read overflow 40 - 36"},
           [](const RVT2600RC& u) {
             EXPECT_EQ(Hex(u.channels[1].analog), "00004040");
             EXPECT_EQ(Hex(u.channels[2].analog), "00000040");
           }},
          {"fewer modules than known: the group's new structure",
           kKnown,
           "00 00004042 02" + module + module,
           -1,
           48,
           {changed + "3 -> 2"},
           [](const RVT2600RC& u) {
             EXPECT_EQ(u.record.module_count, 2);
             ASSERT_EQ(u.channels.size(), 2u);
             EXPECT_EQ(Hex(u.record.group_analog), "00004042");
             EXPECT_EQ(Hex(u.channels[1].analog), "0000E040");
             EXPECT_EQ(Hex(u.channels[1].user_analog), Norm(Repeat("0000C040", 4)));
             EXPECT_EQ(Hex(u.channels[1].state), "040506");  // until the next switch reply
           }},
          {"more modules than known",
           kKnown,
           "00 00004042 04" + Repeat(module, 4),
           -1,
           90,
           {changed + "3 -> 4"},
           [](const RVT2600RC& u) {
             EXPECT_EQ(u.record.module_count, 4);
             ASSERT_EQ(u.channels.size(), 4u);
             EXPECT_EQ(Hex(u.channels[0].analog), "0000E040");
             EXPECT_EQ(Hex(u.channels[3].analog), "0000E040");
             EXPECT_EQ(Hex(u.channels[0].state), "010203");
             EXPECT_EQ(Hex(u.channels[3].state), "000000");  // a new module starts zero
             EXPECT_EQ(u.channels[3].fault, 0);
           }},
          {"more modules than known, cut short",
           kKnown,
           "00 00004042 04" + Repeat(module, 4),
           80,
           -1,
           {changed + "3 -> 4",
            "PMBusPowerAC:ProcotolError 7 read 41_41 in channel overflow 82 - 80"},
           [](const RVT2600RC& u) { EXPECT_EQ(u.channels.size(), 4u); }},
          {"no modules",
           {},
           "00 00004842 00",
           -1,
           6,
           {},
           [](const RVT2600RC& u) {
             EXPECT_EQ(u.record.module_count, 0);
             EXPECT_TRUE(u.channels.empty());
           }},
          {"modules after none",
           {{&RVT2600RC::parse41_41, "00 00004842 00"}},
           k41_41,
           -1,
           69,
           {},
           [](const RVT2600RC& u) { EXPECT_EQ(u.channels.size(), 3u); }},
          {"one byte short",
           {},
           k41_41,
           68,
           -1,
           {"PMBusPowerAC:ProcotolError 7 read 41_41 in channel overflow 69 - 68"},
           [](const RVT2600RC& u) {
             EXPECT_EQ(Hex(u.channels[2].user_analog), Norm("00000040 00000040 00000040 00000000"));
           }},
          {"cut before module 2",
           {},
           k41_41,
           27,
           -1,
           {"PMBusPowerAC:ProcotolError 7 read 41_41 read overflow 31 - 27"},
           [](const RVT2600RC& u) { EXPECT_EQ(Hex(u.channels[1].analog), "00000000"); }},
          {"cut in the head",
           {},
           k41_41,
           3,
           -1,
           {"PMBusPowerAC:ProcotolError 7 read 41_41 read overflow 5 - 3"},
           [](const RVT2600RC& u) {
             EXPECT_EQ(Hex(u.record.group_analog), "00000000");
             EXPECT_TRUE(u.channels.empty());
           }},
      });
}

TEST_F(RcTest, SwitchReply) {
  const std::string fresh = "00 03 0A0B0C 01 44 0D0E0F 01 55 101112 01 66";
  Run(&RVT2600RC::parse41_43,
      {
          {"three modules",
           kKnown,
           fresh,
           -1,
           17,
           {},
           [](const RVT2600RC& u) {
             EXPECT_EQ(Hex(u.channels[0].state), "0A0B0C");
             EXPECT_EQ(u.channels[0].user_state[0], 0x44);
             EXPECT_EQ(Hex(u.channels[2].state), "101112");
             EXPECT_EQ(u.channels[2].user_state[0], 0x66);
           }},
          {"two of three",
           kKnown,
           "00 02 0A0B0C 01 44 0D0E0F 01 55",
           -1,
           12,
           {},
           [](const RVT2600RC& u) {
             EXPECT_EQ(u.channels[1].user_state[0], 0x55);
             EXPECT_EQ(Hex(u.channels[2].state), "070809");
             EXPECT_EQ(u.channels[2].user_state[0], 0x33);
           }},
          {"more modules than known",
           kKnown,
           "00 04 0A0B0C 01 44 0D0E0F 01 55 101112 01 66 131415 01 77",
           -1,
           -1,
           {},
           [](const RVT2600RC& u) { EXPECT_EQ(Hex(u.channels[0].state), "010203"); }},
          {"wrong count byte",
           kKnown,
           "00 03 0A0B0C 02 4444 0D0E0F 01 55 101112 01 66",
           -1,
           18,
           {"PMBusPowerRC<TeleRC,TeleRCChannel,RT_RC>:ProcotolError 7 read 41_43 p is 2, not 1"},
           [](const RVT2600RC& u) {
             EXPECT_EQ(Hex(u.channels[0].state), "0A0B0C");
             EXPECT_EQ(u.channels[0].user_state_count, 2);
             EXPECT_EQ(u.channels[0].user_state[0], 0x11);
             EXPECT_EQ(u.channels[1].user_state[0], 0x55);
           }},
          {"one byte short",
           kKnown,
           fresh,
           16,
           -1,
           {"PMBusPowerAC:ProcotolError 7 read 41_43 read overflow 17 - 16"},
           [](const RVT2600RC& u) {
             EXPECT_EQ(Hex(u.channels[2].state), "101112");
             EXPECT_EQ(u.channels[2].user_state[0], 0x33);
           }},
      });
}

TEST_F(RcTest, AlarmReply) {
  const std::string fresh = "00 03 02 04 A1A2A3A4 00 04 B1B2B3B4 01 04 C1C2C3C4";
  Run(&RVT2600RC::parse41_44,
      {
          {"three modules",
           kKnown,
           fresh,
           -1,
           20,
           {},
           [](const RVT2600RC& u) {
             EXPECT_EQ(u.channels[0].fault, 2);
             EXPECT_EQ(u.channels[1].fault, 0);
             EXPECT_EQ(Hex(u.channels[2].user_alarm), "C1C2C3C4");
           }},
          {"two of three",
           kKnown,
           "00 02 02 04 A1A2A3A4 00 04 B1B2B3B4",
           -1,
           14,
           {},
           [](const RVT2600RC& u) {
             EXPECT_EQ(u.channels[1].fault, 0);
             EXPECT_EQ(u.channels[2].fault, 2);
             EXPECT_EQ(Hex(u.channels[2].user_alarm), "090A0B0C");
           }},
          {"more modules than known",
           kKnown,
           "00 04 02 04 A1A2A3A4 00 04 B1B2B3B4 01 04 C1C2C3C4 01 04 D1D2D3D4",
           -1,
           0,
           {"PMBusPowerRC<TeleRC,TeleRCChannel,RT_RC>:ProcotolError 7 parse p41_44 channel_count "
            "not "
            "equal 4 != 3 "},
           [](const RVT2600RC& u) {
             EXPECT_EQ(u.channels[0].fault, 0);
             EXPECT_EQ(Hex(u.channels[0].user_alarm), "01020304");
           }},
          {"wrong count byte",
           kKnown,
           "00 03 02 02 A1A2 00 04 B1B2B3B4 01 04 C1C2C3C4",
           -1,
           18,
           {"PMBusPowerRC<TeleRC,TeleRCChannel,RT_RC>:ProcotolError 7 read 41_44 p is 2, not 4"},
           [](const RVT2600RC& u) {
             EXPECT_EQ(u.channels[0].fault, 2);
             EXPECT_EQ(u.channels[0].user_alarm_count, 2);
             EXPECT_EQ(Hex(u.channels[0].user_alarm), "01020304");
             EXPECT_EQ(Hex(u.channels[2].user_alarm), "C1C2C3C4");
           }},
          {"one byte short",
           kKnown,
           fresh,
           19,
           -1,
           {"PMBusPowerAC:ProcotolError 7 read 41_44 read overflow 20 - 19"},
           [](const RVT2600RC& u) {
             EXPECT_EQ(u.channels[2].fault, 1);
             EXPECT_EQ(Hex(u.channels[2].user_alarm), "090A0B0C");
           }},
      });
}

TEST_F(RcTest, AcParameterReply) {
  auto stored = [&](const std::string& params) {
    return [params](const RVT2600RC& u) { EXPECT_EQ(Hex(u.record.ac_param), Norm(params)); };
  };
  const std::string two = kAcParams + " 02 0000803F 0000803F";
  Run(&RVT2600RC::parse40_46,
      {
          {"m = 0", {}, kAcParams + " 00", -1, 21, {}, stored(kAcParams)},
          {"m = 0, bytes after", {}, kAcParams + " 00", 40, 21, {}, nullptr},
          {"m = 0, one byte short",
           {},
           kAcParams + " 00",
           20,
           -1,
           {"PMBusPowerAC:ProcotolError 7 read 40_46 read overflow 21 - 20"},
           stored(kAcParams)},
          // The user-defined values are not read: the root checks the part against the reply.
          {"m = 2, values missing", {}, two, 21, 29, {}, stored(kAcParams)},
          {"m = 2", {}, two, 29, 29, {}, nullptr},
          {"m = 2, bytes after", {}, two, 40, 29, {}, nullptr},
          {"cut in the fixed fields",
           {},
           two,
           10,
           -1,
           {"PMBusPowerAC:ProcotolError 7 read 40_46 read overflow 12 - 10"},
           stored("0000803F 00000040 00000000 00000000 00000000")},
      });
}

TEST_F(RcTest, DcParameterReply) {
  const std::vector<Step> old = {
      {&RVT2600RC::parse42_46, "0000803F 0000803F 05" + Repeat("11", 20)}};
  auto user = [](const std::string& bytes) {
    return [bytes](const RVT2600RC& u) {
      EXPECT_EQ(Hex(u.record.dc_param), Norm("00000040 00004040"));
      EXPECT_EQ(u.record.dc_user_param_count, 5);
      EXPECT_EQ(Hex(u.record.dc_user_param), Norm(bytes));
    };
  };
  const std::string all = "0102030405060708090A0B0C0D0E0F1011121314";
  const char* countLog = "TKR07B:ProcotolError parse42_46 7 p:3 != 5";
  const std::string three = "00000040 00004040 03 0102030405060708090A0B0C";
  auto countKept = [](const RVT2600RC& u) {
    EXPECT_EQ(u.record.dc_user_param_count, 3);
    EXPECT_EQ(Hex(u.record.dc_user_param), Repeat("11", 20));
  };
  Run(&RVT2600RC::parse42_46,
      {
          {"count 5", old, k42_46, 29, 29, {}, user(all)},
          {"count 5, bytes after", old, k42_46, 40, 29, {}, user(all)},
          {"count 5, remaining 20",
           old,
           k42_46,
           20,
           20,
           {},
           user("0102030405060708090A0B" + Repeat("11", 9))},
          {"count 5, remaining 19",
           old,
           k42_46,
           19,
           19,
           {},
           user("0102030405060708090A" + Repeat("11", 10))},
          {"count 5, remaining 9", old, k42_46, 9, 9, {}, user(Repeat("11", 20))},
          {"remaining 8",
           old,
           k42_46,
           8,
           -1,
           {"PMBusPowerAC:ProcotolError 7 read 42_46 read overflow 9 - 8"},
           [](const RVT2600RC& u) {
             EXPECT_EQ(Hex(u.record.dc_param), Norm("00000040 00004040"));
           }},
          {"cut in the fixed fields",
           old,
           k42_46,
           5,
           -1,
           {"PMBusPowerAC:ProcotolError 7 read 42_46 read overflow 8 - 5"},
           [](const RVT2600RC& u) {
             EXPECT_EQ(Hex(u.record.dc_param), Norm("00000040 0000803F"));
           }},
          {"count 3", old, three, -1, 21, {countLog}, countKept},
          // Unread values: the root checks the part against the reply.
          {"count 3, values missing", old, three, 9, 21, {countLog}, countKept},
      });
}

TEST_F(RcTest, RoundPublishesHeadAndModulesAndOneFaultRulePerModule) {
  for (const Step& s : kKnown) ASSERT_GT(Feed(*unit, s.parse, s.reply), 0);
  ASSERT_EQ(Feed(*unit, &RVT2600RC::parse40_46, kAcParams + " 00"), 21);
  ASSERT_EQ(Feed(*unit, &RVT2600RC::parse42_46, k42_46), 29);
  unit->RoundDone();

  const Bytes image = Published(0);
  ASSERT_EQ(image.size(), 65u + 3 * 32);
  EXPECT_EQ(Hex(image, 0, 4), "07000000");
  EXPECT_EQ(Hex(image, 4, 20), Norm(kAcParams));
  EXPECT_EQ(Hex(image, 24, 29), Norm(k42_46));
  EXPECT_EQ(Hex(image, 53, 4), "00004842");
  EXPECT_EQ(image[57], 3);
  EXPECT_EQ(Hex(image, 58, 7), "EA070101080000");  // 2026-01-01 08:00:00
  // Module 2 from byte 97, module 3 from byte 129.
  EXPECT_EQ(Hex(image, 97, 4), "FFFFFFFF");
  EXPECT_EQ(Hex(image, 97 + 21, 5), "0405060122");
  EXPECT_EQ(Hex(image, 97 + 26, 6), "010405060708");
  EXPECT_EQ(image[129 + 26], 2);

  const auto batches = bench.controller->Journal(zel::Event::Kind::Rules);
  ASSERT_EQ(batches.size(), 1u);
  ASSERT_EQ(batches[0].rules.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    const rule_value& r = batches[0].rules[i];
    EXPECT_EQ(r.seq, i + 1);
    EXPECT_EQ(r.level, 2);
    EXPECT_EQ(r.id, "RC_0");
    EXPECT_EQ(r.code, "06024");
    EXPECT_EQ(r.name, "整流模块故障告警");
    EXPECT_EQ(r.text, ModuleText(i + 1));
    EXPECT_EQ(r.active, i == 1) << "fault 1 only; module 3 reports 2";
  }
  const auto alarms = bench.controller->Journal(zel::Event::Kind::Alarm);
  ASSERT_EQ(alarms.size(), 1u);
  EXPECT_EQ(alarms[0].text, "模块2整流模块故障告警");
  EXPECT_EQ(unit->alarmFlag_, 1);

  const auto saved = bench.controller->Journal(zel::Event::Kind::History);
  ASSERT_EQ(saved.size(), 1u);
  EXPECT_EQ(saved[0].bytes, image);
  EXPECT_TRUE(unit->rules_.empty());
}

TEST_F(RcTest, TwelveModulesNumberTheirTextsInPlainDecimal) {
  const std::string reply =
      "00 00004842 0C" + Repeat(" 0000803F 04 00000000 00000000 00000000 00000000", 12);
  ASSERT_EQ(Feed(*unit, &RVT2600RC::parse41_41, reply), 6 + 12 * 21);
  unit->RoundDone();
  EXPECT_EQ(Published(0).size(), 65u + 12 * 32);
  const auto batches = bench.controller->Journal(zel::Event::Kind::Rules);
  ASSERT_EQ(batches.size(), 1u);
  ASSERT_EQ(batches[0].rules.size(), 12u);
  for (size_t i = 0; i < 12; ++i) {
    EXPECT_EQ(batches[0].rules[i].text, ModuleText(i + 1));
    EXPECT_EQ(batches[0].rules[i].seq, i + 1);
  }
  EXPECT_EQ(batches[0].rules[9].text, "模块10整流模块故障告警");
}

TEST_F(RcTest, ImageGrowsWhenModulesArriveAfterARoundWithNone) {
  ASSERT_EQ(Feed(*unit, &RVT2600RC::parse41_41, "00 00004842 00"), 6);
  unit->RoundDone();
  EXPECT_EQ(Published(0).size(), 65u);
  auto batches = bench.controller->Journal(zel::Event::Kind::Rules);
  ASSERT_EQ(batches.size(), 1u);  // the empty batch is still handed over
  EXPECT_TRUE(batches[0].rules.empty());

  ASSERT_EQ(Feed(*unit, &RVT2600RC::parse41_41, k41_41), 69);
  Advance(2);
  unit->RoundDone();
  const Bytes image = Published(1);
  ASSERT_EQ(image.size(), 161u);
  EXPECT_EQ(image[57], 3);
  EXPECT_EQ(Hex(image, 97, 4), "FFFFFFFF");
  EXPECT_EQ(Hex(image, 129, 4), "00000040");

  // What is saved is an image a restart accepts.
  const auto saved = bench.controller->Journal(zel::Event::Kind::History);
  ASSERT_EQ(saved.size(), 2u);
  testing::internal::CaptureStdout();
  auto restarted = Fresh();
  EXPECT_TRUE(
      restarted->LoadFromCache(saved[1].bytes.data(), static_cast<int>(saved[1].bytes.size())));
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(restarted->channels.size(), 3u);
  EXPECT_EQ(Hex(restarted->channels[1].analog), "FFFFFFFF");
}

TEST_F(RcTest, ImageFitsACacheLoadWithAnotherModuleCount) {
  for (const Step& s : kKnown) ASSERT_GT(Feed(*unit, s.parse, s.reply), 0);
  unit->RoundDone();
  EXPECT_EQ(Published(0).size(), 161u);

  testing::internal::CaptureStdout();
  const Bytes one = CacheImage(1, 32);
  ASSERT_TRUE(unit->LoadFromCache(one.data(), static_cast<int>(one.size())));
  testing::internal::GetCapturedStdout();
  unit->RoundDone();
  const Bytes image = Published(1);
  ASSERT_EQ(image.size(), 97u);
  EXPECT_EQ(image[57], 1);
  EXPECT_EQ(Hex(image, 65, 32), Hex(one, 65, 32));
  EXPECT_EQ(bench.controller->Journal(zel::Event::Kind::Rules)[1].rules.size(), 1u);
}

// The replies of a group of n modules: module k's analog value is k + 1, and the last module
// is faulty.
std::string Modules41_41(int n) {
  std::string out = "00 00004842 " + zel::ToHex(Bytes{static_cast<unsigned char>(n)});
  for (int k = 0; k < n; ++k) {
    const float analog = static_cast<float>(k + 1);
    out += " " + zel::ToHex(reinterpret_cast<const unsigned char*>(&analog), 4) + " 04" +
           Repeat(" 00000000", 4);
  }
  return out;
}
std::string Modules41_44(int n) {
  std::string out = "00 " + zel::ToHex(Bytes{static_cast<unsigned char>(n)});
  for (int k = 0; k < n; ++k) out += k + 1 == n ? " 01 04 00000000" : " 00 04 00000000";
  return out;
}

// Modules pulled out and put in (they are hot-swapped): 4, then 3, then 5. Each change is
// logged once, in the round it comes in; the round's switch and alarm replies of the new count
// are taken, and the image and the module rules follow the count. A cache image of another count
// after that is taken as before, and the next reply's count is a change against it.
TEST_F(RcTest, ModuleCountChangesAcrossRounds) {
  const std::string changed =
      "PMBusPowerRC<TeleRC,TeleRCChannel,RT_RC>:ProcotolError 7 read 41_41 channel_count "
      "changed ";
  struct Round {
    int modules;
    std::vector<std::string> logs;
  } rounds[] = {
      {4, {}}, {3, {changed + "4 -> 3"}}, {3, {}}, {5, {changed + "3 -> 5"}}, {5, {}},
  };
  for (const Round& r : rounds) {
    SCOPED_TRACE(&r - rounds + 1);
    const size_t n = static_cast<size_t>(r.modules);
    bench.controller->ClearJournal();
    ASSERT_EQ(Feed(*unit, &RVT2600RC::parse41_41, Modules41_41(r.modules)),
              static_cast<int>(6 + 21 * n));
    const std::string switches = "00 " + zel::ToHex(Bytes{static_cast<unsigned char>(n)}) +
                                 Repeat(" 000000 01 00", r.modules);
    ASSERT_EQ(Feed(*unit, &RVT2600RC::parse41_43, switches), static_cast<int>(2 + 5 * n));
    ASSERT_EQ(Feed(*unit, &RVT2600RC::parse41_44, Modules41_44(r.modules)),
              static_cast<int>(2 + 6 * n));
    unit->RoundDone();
    EXPECT_EQ(Logs(), r.logs);

    const Bytes image = Published(0);
    ASSERT_EQ(image.size(), 65 + 32 * n);
    EXPECT_EQ(unit->image_size, image.size());
    EXPECT_EQ(image[57], r.modules);
    const float lastAnalog = static_cast<float>(r.modules);
    EXPECT_EQ(Hex(image, 65 + 32 * (n - 1), 4),
              zel::ToHex(reinterpret_cast<const unsigned char*>(&lastAnalog), 4));
    EXPECT_EQ(image[65 + 32 * (n - 1) + 26], 1);  // the last module's fault
    EXPECT_EQ(bench.controller->Journal(zel::Event::Kind::History).back().bytes, image);

    const auto batches = bench.controller->Journal(zel::Event::Kind::Rules);
    ASSERT_EQ(batches.size(), 1u);
    ASSERT_EQ(batches[0].rules.size(), n);
    for (size_t k = 0; k < n; ++k) {
      EXPECT_EQ(batches[0].rules[k].text, ModuleText(k + 1));
      EXPECT_EQ(batches[0].rules[k].seq, k + 1);
      EXPECT_EQ(batches[0].rules[k].active, k + 1 == n);
    }
    Advance(2);
  }

  bench.controller->ClearJournal();
  testing::internal::CaptureStdout();
  const Bytes cached = CacheImage(3, 96);
  ASSERT_TRUE(unit->LoadFromCache(cached.data(), static_cast<int>(cached.size())));
  testing::internal::GetCapturedStdout();
  unit->RoundDone();
  EXPECT_EQ(Published(0).size(), 161u);
  ASSERT_EQ(Feed(*unit, &RVT2600RC::parse41_41, Modules41_41(5)), 111);
  unit->RoundDone();
  EXPECT_EQ(Published(1).size(), 225u);
  EXPECT_EQ(Logs(), std::vector<std::string>{changed + "3 -> 5"});
}

TEST_F(RcTest, QueriesAreNeverAnswered) {
  auto query = [&] { unit->Get_Value(0, "group_analog"); };
  EXPECT_EQ(rvt_test::OutOfRangeText(query), "数据未就绪");
  unit->RoundDone();
  EXPECT_EQ(unit->dataReady_, 1);
  EXPECT_EQ(rvt_test::OutOfRangeText(query), "数据未就绪");
  Advance(60);
  EXPECT_EQ(rvt_test::OutOfRangeText(query), "数据未就绪");
  Advance(1);
  EXPECT_EQ(rvt_test::OutOfRangeText(query), "数据已超时");
}

TEST_F(RcTest, CacheLoad) {
  const std::string nul(1, '\0');
  struct Case {
    const char* what;
    const char* before;  // analog reply parsed first, if any
    Bytes image;
    int cut;  // bytes left off the end
    bool accepted;
    std::string out;
    std::function<void(const RVT2600RC&)> check;
  } cases[] = {
      {"one byte short of the head", nullptr, CacheImage(0, 0), 1, false, "rc data_len:64 vs 65\n",
       [](const RVT2600RC& u) {
         EXPECT_EQ(u.record.data_id, kId);
         EXPECT_EQ(Hex(u.record.group_analog), "00000000");
         EXPECT_EQ(u.dataReady_, 0);
       }},
      {"head only", nullptr, CacheImage(0, 0), 0, true,
       "rc data_len:65 vs 65\nrc channelLen 32 and " + nul + " left:0\n",
       [](const RVT2600RC& u) {
         EXPECT_EQ(u.record.data_id, 99u);
         EXPECT_FLOAT_EQ(u.record.group_analog, 12.5f);
         EXPECT_TRUE(u.channels.empty());
         EXPECT_EQ(u.dataReady_, 1);
       }},
      {"three modules", nullptr, CacheImage(3, 96), 0, true,
       "rc data_len:161 vs 65\nrc channelLen 32 and \x03 left:96\n",
       [](const RVT2600RC& u) {
         ASSERT_EQ(u.channels.size(), 3u);
         const Bytes image = CacheImage(3, 96);
         for (size_t i = 0; i < 3; ++i) EXPECT_EQ(Hex(u.channels[i]), Hex(image, 65 + 32 * i, 32));
         EXPECT_EQ(u.dataReady_, 1);
       }},
      {"channel part of the wrong length",
       "00 00004842 01 0000803F 04 00000000 00000000 00000000 00000000", CacheImage(3, 40), 0,
       false, "rc data_len:105 vs 65\nrc channelLen 32 and \x03 left:40\n",
       [](const RVT2600RC& u) {
         EXPECT_EQ(u.record.data_id, 99u);
         EXPECT_EQ(u.record.module_count, 3);
         ASSERT_EQ(u.channels.size(), 3u);
         EXPECT_EQ(Hex(u.channels[0].analog), "0000803F");
         EXPECT_EQ(Hex(u.channels[1]), Repeat("00", 32));
         EXPECT_EQ(Hex(u.channels[2]), Repeat("00", 32));
         EXPECT_EQ(u.dataReady_, 0);
       }},
      {"one byte past the modules", nullptr, CacheImage(3, 97), 0, false,
       "rc data_len:162 vs 65\nrc channelLen 32 and \x03 left:97\n",
       [](const RVT2600RC& u) { EXPECT_EQ(u.dataReady_, 0); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto u = Fresh();
    if (c.before) {
      ASSERT_GT(Feed(*u, &RVT2600RC::parse41_41, c.before), 0);
    }
    testing::internal::CaptureStdout();
    // Through the string overload, which hands its bytes on.
    const bool accepted = u->LoadFromCache(std::string(c.image.begin(), c.image.end() - c.cut));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.out);
    EXPECT_EQ(accepted, c.accepted);
    c.check(*u);
  }
}

TEST_F(RcTest, CacheLoadFixesTheModuleCount) {
  testing::internal::CaptureStdout();
  const Bytes image = CacheImage(3, 96);
  ASSERT_TRUE(unit->LoadFromCache(image.data(), static_cast<int>(image.size())));
  testing::internal::GetCapturedStdout();
  Advance(61);
  EXPECT_EQ(rvt_test::OutOfRangeText([&] { unit->Get_Value(0, "x"); }), "数据已超时");

  EXPECT_EQ(Feed(*unit, &RVT2600RC::parse41_41, k41_41), 69);
  EXPECT_EQ(Hex(unit->channels[1].analog), "FFFFFFFF");
  // Another count against the cached one is a change; messages name the unit by its own data
  // id, not by the one the image brought.
  EXPECT_EQ(Feed(*unit, &RVT2600RC::parse41_41,
                 "00 00004842 02" + Repeat(" 0000803F 04 00000000 00000000 00000000 00000000", 2)),
            48);
  EXPECT_EQ(Logs(), std::vector<std::string>{"PMBusPowerRC<TeleRC,TeleRCChannel,RT_RC>:"
                                             "ProcotolError 7 read 41_41 channel_count changed "
                                             "3 -> 2"});
  EXPECT_EQ(unit->record.data_id, 99u);
}

}  // namespace
