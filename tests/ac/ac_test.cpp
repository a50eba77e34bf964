// The AC distribution unit: reply parts, signal lookup, cache images, rounds and alarm rules.
#include <gtest/gtest.h>
#include <json/json.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>

#include "HostTest.h"
#include "VirtualSlot.h"
#include "ac/RVT2600AC.h"

namespace {

using Base = PMBusPowerAC<tele_c_rvt2600_ac, tele_c_rvt2600_ac_channel, 5106>;
using Parse = int (Base::*)(const unsigned char*, int);

constexpr unsigned kId = 7;
const std::vector<unsigned char> kStamp = {0xEA, 0x07, 1, 1, 8, 0, 0};  // 2026-01-01 08:00:00

// A unit's part of a reply, built field by field.
struct Part {
  std::vector<unsigned char> bytes;
  Part& u8(int v) {
    bytes.push_back(static_cast<unsigned char>(v));
    return *this;
  }
  Part& f(float v) {
    unsigned char b[4];
    std::memcpy(b, &v, 4);  // the test hosts are little-endian, as the device is
    bytes.insert(bytes.end(), b, b + 4);
    return *this;
  }
  Part& hex(const std::string& h) {
    const auto more = zel::FromHex(h);
    bytes.insert(bytes.end(), more.begin(), more.end());
    return *this;
  }
};

// Analog part of n channels: channel k has a = 220 + k, b = 221 + k, c = 222 + k, f = 50 + k,
// p = 0; then ia = 10, ib = 11, ic = 12.
Part Analog(int n) {
  Part p;
  p.u8(n);
  for (int k = 0; k < n; ++k) p.f(220.0f + k).f(221.0f + k).f(222.0f + k).f(50.0f + k).u8(0);
  p.f(10).f(11).f(12);
  return p;
}

// Alarm part: every channel gets the codes a, b, c, f, m = 0, p = 8 user states 0..7.
Part Alarm(int n, std::array<int, 4> codes, std::array<int, 3> phases, int leading = -1) {
  Part p;
  p.u8(leading < 0 ? n : leading);
  for (int k = 0; k < n; ++k) {
    for (int code : codes) p.u8(code);
    p.u8(0).u8(8);
    for (int s = 0; s < 8; ++s) p.u8(s);
  }
  for (int code : phases) p.u8(code);
  return p;
}

// A cache image: head with data id 99, the given count and ia = 5, then two channels with
// a = 100 and 200.
std::vector<unsigned char> CacheImage(int count) {
  tele_c_rvt2600_ac head{};
  head.data_id = 99;
  head.channel_count = static_cast<uint8_t>(count);
  head.ia = 5.0f;
  tele_c_rvt2600_ac_channel ch[2]{};
  ch[0].a = 100.0f;
  ch[1].a = 200.0f;
  std::vector<unsigned char> image(sizeof head + sizeof ch);
  std::memcpy(image.data(), &head, sizeof head);
  std::memcpy(image.data() + sizeof head, ch, sizeof ch);
  return image;
}

// Records the last argument of SendSP, which the host journal does not keep.
struct SpyAC : RVT2600AC {
  void SendSP(int type, const unsigned char* image, unsigned int len, bool changed) override {
    changedFlags.push_back(changed);
    RVT2600AC::SendSP(type, image, len, changed);
  }
  std::vector<bool> changedFlags;
};

class AcTest : public rvt_test::VirtualClockTest {
 protected:
  void SetUp() override {
    VirtualClockTest::SetUp();
    bench.Start(parent, 1, Json::Value());
  }

  template <class Unit = RVT2600AC>
  std::shared_ptr<Unit> MakeUnit(const Json::Value& settings = Json::Value()) {
    auto unit = std::make_shared<Unit>();
    unit->InitV(&parent, kId, settings);
    return unit;
  }

  static int Feed(Base& unit, Parse parse, const Part& part) {
    return (unit.*parse)(part.bytes.data(), static_cast<int>(part.bytes.size()));
  }
  // The analog part of n channels, with its standard-output lines swallowed.
  static int FeedAnalog(Base& unit, int n) {
    testing::internal::CaptureStdout();
    const int used = Feed(unit, &Base::parse40_41, Analog(n));
    testing::internal::GetCapturedStdout();
    return used;
  }

  // The unit's image as published in the round just done, and the rules of that round.
  std::vector<unsigned char> LastImage() const {
    const auto published = bench.controller->Journal(zel::Event::Kind::Publish);
    return published.empty() ? std::vector<unsigned char>() : published.back().bytes;
  }
  std::vector<rule_value> LastRules() const {
    const auto batches = bench.controller->Journal(zel::Event::Kind::Rules);
    return batches.empty() ? std::vector<rule_value>() : batches.back().rules;
  }

  std::string Query(const Base& unit, const std::string& name, float* value = nullptr) {
    return rvt_test::OutOfRangeText([&] {
      const float v = unit.Get_Value(0, name);
      if (value) *value = v;
    });
  }

  rvt_test::PlainDevice parent;
};

TEST_F(AcTest, ShapeAndConstruction) {
  using LoadBytes = bool (Base::*)(const unsigned char*, int);
  EXPECT_EQ(VirtualSlot(&Base::Get_Value), 0);
  EXPECT_EQ(VirtualSlot(static_cast<LoadBytes>(&Base::LoadFromCache)), 2);
  EXPECT_EQ(VirtualSlot(&Base::RoundDone), 6);
  EXPECT_EQ(VirtualSlot(&Base::InitV), 11);
  EXPECT_EQ(VirtualSlot(&Base::parse40_41), 31);
  EXPECT_EQ(VirtualSlot(&Base::parse40_43), 32);
  EXPECT_EQ(VirtualSlot(&Base::parse40_44), 33);
  EXPECT_EQ(VirtualSlot(&Base::DoImpCheckAlert), 34);

  RVT2600AC fresh;
  EXPECT_EQ(fresh.DeviceType(), "rvt2600-ac");
  EXPECT_EQ(fresh.image, nullptr);
  EXPECT_TRUE(fresh.channels.empty());
  EXPECT_FLOAT_EQ(fresh.diff_v, 20.0f);
  EXPECT_FLOAT_EQ(fresh.diff_i, 20.0f);
  const tele_c_rvt2600_ac zero{};
  EXPECT_EQ(std::memcmp(&fresh.record, &zero, sizeof zero), 0);
}

struct ParseCase {
  const char* what;
  int channelsBefore;  // channels fixed by an earlier analog reply; -1 for none
  Parse parse;
  Part part;
  int remaining;  // -1: the part's size
  int result;
  std::vector<std::string> logs;
  std::string out;  // standard output
  std::function<void(const RVT2600AC&)> check;
  bool fixedByCache = false;  // channelsBefore fixed by CacheImage(channelsBefore) instead
};

TEST_F(AcTest, ReplyParts) {
  const std::string over41 = "PMBusPowerAC:ProcotolError 7 read 40_41 read overflow ";
  const std::string over43 = "PMBusPowerAC:ProcotolError 7 read 40_43 read overflow ";
  const std::string over44 = "PMBusPowerAC:ProcotolError 7 read 40_44 read overflow ";
  const Part oneChannel =
      Part().u8(1).f(230).f(230.5f).hex("20202020").f(50).u8(0).f(10).hex("20202020").f(12);
  const Part switches = Part().hex("00 03 01 00 01");
  const Part alarm1 = Alarm(1, {1, 0, 2, 0}, {0, 3, 0});

  const ParseCase cases[] = {
      {"analog, one channel with markers",
       -1,
       &Base::parse40_41,
       oneChannel,
       -1,
       30,
       {},
       "a:230 b:230.5 c:0 f:50\n",
       [](const RVT2600AC& u) {
         ASSERT_EQ(u.channels.size(), 1u);
         EXPECT_EQ(u.record.channel_count, 1);
         EXPECT_FLOAT_EQ(u.channels[0].a, 230.0f);
         EXPECT_FLOAT_EQ(u.channels[0].c, 0.0f);  // marker on a channel value
         EXPECT_FLOAT_EQ(u.record.ia, 10.0f);
         EXPECT_FLOAT_EQ(u.record.ib, -0.1f);  // marker on a phase current
         EXPECT_FLOAT_EQ(u.record.ic, 12.0f);
       }},
      {"analog, markers on a and ia",
       -1,
       &Base::parse40_41,
       Part().u8(1).hex("31313131").f(230.5f).f(231).f(50).u8(0).hex("41414141").f(11).f(12),
       -1,
       30,
       {},
       "a:0 b:230.5 c:231 f:50\n",
       [](const RVT2600AC& u) {
         EXPECT_FLOAT_EQ(u.channels[0].a, 0.0f);
         EXPECT_FLOAT_EQ(u.channels[0].b, 230.5f);
         EXPECT_FLOAT_EQ(u.record.ia, -0.1f);
         EXPECT_FLOAT_EQ(u.record.ib, 11.0f);
       }},
      {"analog, remaining beyond the part",
       -1,
       &Base::parse40_41,
       oneChannel,
       40,
       30,
       {},
       "a:230 b:230.5 c:0 f:50\n",
       nullptr},
      {"analog, zero bytes are a real zero",
       -1,
       &Base::parse40_41,
       Part().u8(1).f(1).f(2).f(3).hex("00000000").u8(0).hex("00000000").f(1).f(1),
       -1,
       30,
       {},
       "a:1 b:2 c:3 f:0\n",
       [](const RVT2600AC& u) { EXPECT_EQ(u.record.ia, 0.0f); }},
      {"analog, one byte short",
       -1,
       &Base::parse40_41,
       oneChannel,
       29,
       -1,
       {over41 + "30 - 29"},
       "a:230 b:230.5 c:0 f:50\n",
       [](const RVT2600AC& u) {
         EXPECT_FLOAT_EQ(u.record.ib, -0.1f);
         EXPECT_EQ(u.record.ic, 0.0f);  // the field that did not fit is not stored
       }},
      {"analog, wrong p skips its values",
       -1,
       &Base::parse40_41,
       Part().u8(1).f(1).f(2).f(3).f(4).u8(2).f(99).f(98).f(10).f(11).f(12),
       -1,
       38,
       {"PMBusPowerAC:ProcotolError 7 read 40_41 p is 2 not 0"},
       "a:1 b:2 c:3 f:4\n",
       [](const RVT2600AC& u) {
         EXPECT_EQ(u.channels[0].p40_41_count, 2);
         EXPECT_FLOAT_EQ(u.record.ia, 10.0f);
       }},
      {"analog, p claims more than is left",
       -1,
       &Base::parse40_41,
       Part().u8(1).f(1).f(2).f(3).f(4).u8(200).f(10).f(11).f(12),
       -1,
       -1,
       {"PMBusPowerAC:ProcotolError 7 read 40_41 p is 200 not 0", over41 + "818 - 30"},
       "a:1 b:2 c:3 f:4\n",
       [](const RVT2600AC& u) { EXPECT_EQ(u.record.ia, 0.0f); }},
      {"analog, more channels than fixed: the site's new structure",
       2,
       &Base::parse40_41,
       Analog(3),
       -1,
       64,
       {"PMBusPowerAC:ProcotolError 7 read 40_41 channel_count changed 2 -> 3"},
       "a:220 b:221 c:222 f:50\na:221 b:222 c:223 f:51\na:222 b:223 c:224 f:52\n",
       [](const RVT2600AC& u) {
         EXPECT_EQ(u.record.channel_count, 3);
         ASSERT_EQ(u.channels.size(), 3u);
         EXPECT_FLOAT_EQ(u.channels[2].a, 222.0f);
         EXPECT_FLOAT_EQ(u.record.ic, 12.0f);
       }},
      {"analog, fewer channels than fixed",
       2,
       &Base::parse40_41,
       Part().u8(1).f(1).f(2).f(3).f(4).u8(0).f(6).f(7).f(8),
       -1,
       30,
       {"PMBusPowerAC:ProcotolError 7 read 40_41 channel_count changed 2 -> 1"},
       "a:1 b:2 c:3 f:4\n",
       [](const RVT2600AC& u) {
         EXPECT_EQ(u.record.channel_count, 1);
         ASSERT_EQ(u.channels.size(), 1u);
         EXPECT_FLOAT_EQ(u.channels[0].a, 1.0f);
         EXPECT_FLOAT_EQ(u.record.ia, 6.0f);
       }},
      {"analog, fewer channels than a cache image fixed",
       2,
       &Base::parse40_41,
       Part().u8(1).f(1).f(2).f(3).f(4).u8(0).f(6).f(7).f(8),
       -1,
       30,
       {"PMBusPowerAC:ProcotolError 7 read 40_41 channel_count changed 2 -> 1"},
       "a:1 b:2 c:3 f:4\n",
       [](const RVT2600AC& u) {
         EXPECT_EQ(u.record.channel_count, 1);
         ASSERT_EQ(u.channels.size(), 1u);
         EXPECT_FLOAT_EQ(u.channels[0].a, 1.0f);
         EXPECT_FLOAT_EQ(u.record.ia, 6.0f);
       },
       true},
      {"analog, changed count cut short: the new count stands",
       2,
       &Base::parse40_41,
       Analog(3),
       63,
       -1,
       {"PMBusPowerAC:ProcotolError 7 read 40_41 channel_count changed 2 -> 3", over41 + "64 - 63"},
       "a:220 b:221 c:222 f:50\na:221 b:222 c:223 f:51\na:222 b:223 c:224 f:52\n",
       [](const RVT2600AC& u) {
         EXPECT_EQ(u.record.channel_count, 3);
         EXPECT_EQ(u.channels.size(), 3u);
       }},
      {"analog, no channels any more",
       2,
       &Base::parse40_41,
       Analog(0),
       -1,
       13,
       {"PMBusPowerAC:ProcotolError 7 read 40_41 channel_count changed 2 -> 0"},
       "",
       [](const RVT2600AC& u) {
         EXPECT_EQ(u.record.channel_count, 0);
         EXPECT_TRUE(u.channels.empty());
       }},
      {"analog, same count again",
       2,
       &Base::parse40_41,
       Analog(2),
       -1,
       47,
       {},
       "a:220 b:221 c:222 f:50\na:221 b:222 c:223 f:51\n",
       nullptr},
      {"analog, count byte missing",
       -1,
       &Base::parse40_41,
       Part(),
       -1,
       -1,
       {over41 + "1 - 0"},
       "",
       nullptr},
      {"switch states",
       -1,
       &Base::parse40_43,
       switches,
       -1,
       5,
       {},
       "",
       [](const RVT2600AC& u) {
         EXPECT_EQ(u.record.p40_43_count, 3);
         EXPECT_EQ(u.record.p40_43[0], 1);
         EXPECT_EQ(u.record.p40_43[1], 0);
         EXPECT_EQ(u.record.p40_43[2], 1);
       }},
      {"switch states, airlock count above the maximum",
       -1,
       &Base::parse40_43,
       Part().hex("01 00 03 01 00 01"),
       -1,
       -1,
       {"ProcotolError %u read 40_43 m is %d max %d"},
       "",
       [](const RVT2600AC& u) {
         EXPECT_EQ(u.record.airlock_count, 1);
         EXPECT_EQ(u.record.p40_43_count, 0);
       }},
      {"switch states, wrong p",
       -1,
       &Base::parse40_43,
       Part().hex("00 02 07 07"),
       -1,
       4,
       {"PMBusPowerAC:ProcotolError P7 read 40_43 p is 2 not 3"},
       "",
       [](const RVT2600AC& u) {
         EXPECT_EQ(u.record.p40_43_count, 2);
         EXPECT_EQ(u.record.p40_43[0], 0);
       }},
      {"switch states, one byte short",
       -1,
       &Base::parse40_43,
       switches,
       4,
       -1,
       {over43 + "5 - 4"},
       "",
       [](const RVT2600AC& u) { EXPECT_EQ(u.record.p40_43[0], 0); }},
      {"alarm states before any analog reply",
       -1,
       &Base::parse40_44,
       Part().hex("05 01 02 03"),
       -1,
       4,
       {},
       "",
       [](const RVT2600AC& u) {
         EXPECT_EQ(u.record.ia_alert, 1);
         EXPECT_EQ(u.record.ib_alert, 2);
         EXPECT_EQ(u.record.ic_alert, 3);
       }},
      {"alarm states, leading byte differs from the channel count",
       2,
       &Base::parse40_44,
       Alarm(2, {3, 2, 1, 0}, {1, 1, 1}, 9),
       -1,
       32,
       {},
       "",
       [](const RVT2600AC& u) {
         EXPECT_EQ(u.channels[1].a_alert, 3);
         EXPECT_EQ(u.channels[1].c_alert, 1);
         EXPECT_EQ(u.channels[1].p40_44[7], 7);
         EXPECT_EQ(u.record.ic_alert, 1);
       }},
      {"alarm states, m not 0 is skipped",
       1,
       &Base::parse40_44,
       Part().hex("01 01020300 02 AABB 08 0001020304050607 010203"),
       -1,
       20,
       {"PMBusPowerAC:ProcotolError 7 read 40_44 m is 2"},
       "",
       [](const RVT2600AC& u) {
         EXPECT_EQ(u.channels[0].p40_44[1], 1);
         EXPECT_EQ(u.record.ic_alert, 3);
       }},
      {"alarm states, wrong p",
       1,
       &Base::parse40_44,
       Part().hex("01 00000000 00 07 01010101010101 020202"),
       -1,
       17,
       {"PMBusPowerAC:ProcotolError 7 read 40_44 p is 7 not 8"},
       "",
       [](const RVT2600AC& u) {
         EXPECT_EQ(u.channels[0].p40_44_count, 7);
         EXPECT_EQ(u.channels[0].p40_44[0], 0);
         EXPECT_EQ(u.record.ia_alert, 2);
       }},
      {"alarm states, one byte short",
       1,
       &Base::parse40_44,
       alarm1,
       17,
       -1,
       {over44 + "18 - 17"},
       "",
       [](const RVT2600AC& u) {
         EXPECT_EQ(u.channels[0].c_alert, 2);
         EXPECT_EQ(u.record.ib_alert, 3);
         EXPECT_EQ(u.record.ic_alert, 0);
       }},
  };

  for (const ParseCase& c : cases) {
    SCOPED_TRACE(c.what);
    auto unit = MakeUnit();
    if (c.fixedByCache) {
      const std::vector<unsigned char> image = CacheImage(c.channelsBefore);
      ASSERT_TRUE(unit->LoadFromCache(image.data(), static_cast<int>(image.size())));
    } else if (c.channelsBefore >= 0) {
      ASSERT_GT(FeedAnalog(*unit, c.channelsBefore), 0);
    }
    bench.controller->ClearJournal();
    const int remaining = c.remaining < 0 ? static_cast<int>(c.part.bytes.size()) : c.remaining;
    std::vector<unsigned char> bytes = c.part.bytes;
    bytes.resize(std::max<size_t>(bytes.size(), static_cast<size_t>(remaining)), 0xEE);

    testing::internal::CaptureStdout();
    EXPECT_EQ(((*unit).*(c.parse))(bytes.data(), remaining), c.result);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.out);
    EXPECT_EQ(Logs(), c.logs);
    if (c.check) c.check(*unit);
  }
}

TEST_F(AcTest, Lookups) {
  auto unit = MakeUnit();
  ASSERT_EQ(FeedAnalog(*unit, 2), 47);
  ASSERT_EQ(Feed(*unit, &Base::parse40_44, Alarm(2, {0, 0, 0, 0}, {2, 0, 255})), 32);

  // Before readiness every name is refused as not ready, even one the unit does not know.
  for (const char* name : {"ia", "channel_0_a", "IA", "channel_0_g", "channel_2_a"})
    EXPECT_EQ(Query(*unit, name), "数据未就绪") << name;
  unit->RoundDone();

  struct Case {
    const char* name;
    float value;
    const char* error;
  } cases[] = {
      {"ia", 10.0f, ""},
      {"ib", 11.0f, ""},
      {"ic", 12.0f, ""},
      {"ia_alert", 2.0f, ""},
      {"ib_alert", 0.0f, ""},
      {"ic_alert", 255.0f, ""},
      {"channel_0_a", 220.0f, ""},
      {"channel_0_f", 50.0f, ""},
      {"channel_1_b", 222.0f, ""},
      {"channel_1_f", 51.0f, ""},
      {"ac.channel_1_c", 223.0f, ""},   // text before the pattern
      {"channel_0_apple", 220.0f, ""},  // text after the selector
      {"channel_00_b", 221.0f, ""},
      {"channel_0_g", 0, "数据未提供"},
      {"channel_0_A", 0, "数据未提供"},
      {"channel_0_", 0, "数据未提供"},
      {"channel_x_a", 0, "数据未提供"},
      {"IA", 0, "数据未提供"},
      {"", 0, "数据未提供"},
      {"channel_2_a", 0, "通道参数越界"},
      {"channel_12345678901234567890_a", 0, "通道参数越界"},
      {"channel_4294967296_a", 0, "通道参数越界"},
      {"channel_18446744073709551617_a", 0, "通道参数越界"},  // 2^64 + 1
  };
  for (const Case& c : cases) {
    float value = -1.0f;
    EXPECT_EQ(Query(*unit, c.name, &value), c.error) << c.name;
    if (*c.error == '\0') {
      EXPECT_FLOAT_EQ(value, c.value) << c.name;
    }
  }

  auto empty = MakeUnit();
  ASSERT_EQ(Feed(*empty, &Base::parse40_41, Analog(0)), 13);
  empty->RoundDone();
  EXPECT_EQ(Query(*empty, "channel_0_a"), "通道参数越界");
  EXPECT_EQ(Query(*empty, "ic"), "");
}

TEST_F(AcTest, CacheImages) {
  const std::vector<unsigned char> image = CacheImage(2);
  ASSERT_EQ(image.size(), 92u);

  auto exact = MakeUnit();
  EXPECT_FALSE(exact->LoadFromCache(image.data(), 32));
  EXPECT_FALSE(exact->LoadFromCache(image.data(), -5));
  EXPECT_EQ(exact->record.data_id, kId);
  EXPECT_TRUE(exact->channels.empty());
  EXPECT_EQ(Query(*exact, "ia"), "数据未就绪");

  // One byte short: refused, yet the head's count stands for the parsers, so that a reply of
  // another count is a change of it.
  auto shortImage = MakeUnit();
  EXPECT_FALSE(shortImage->LoadFromCache(image.data(), 91));
  EXPECT_EQ(Query(*shortImage, "ia"), "数据未就绪");
  EXPECT_EQ(shortImage->channels.size(), 2u);
  EXPECT_EQ(FeedAnalog(*shortImage, 3), 64);
  EXPECT_EQ(Logs(), std::vector<std::string>{
                        "PMBusPowerAC:ProcotolError 7 read 40_41 channel_count changed 2 -> 3"});

  auto good = MakeUnit();
  EXPECT_TRUE(good->LoadFromCache(std::string(image.begin(), image.end())));  // slot 1
  float value = 0;
  EXPECT_EQ(Query(*good, "channel_1_a", &value), "");
  EXPECT_FLOAT_EQ(value, 200.0f);
  EXPECT_EQ(Query(*good, "ia", &value), "");
  EXPECT_FLOAT_EQ(value, 5.0f);
  EXPECT_EQ(good->record.data_id, 99u);
  Advance(61);
  EXPECT_EQ(Query(*good, "ia"), "数据已超时");
}

// An image must be its head and its channels exactly: a byte short or a byte past them is
// not a saved image of this unit, and the unit stays not ready.
TEST_F(AcTest, CacheImageOfAnotherLengthIsRefused) {
  struct Case {
    const char* what;
    std::vector<unsigned char> image;
  } cases[] = {
      {"one byte short", CacheImage(2)},
      {"one byte past", CacheImage(2)},
  };
  cases[0].image.pop_back();
  cases[1].image.push_back(0);
  ASSERT_EQ(cases[1].image.size(), 93u);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto unit = MakeUnit();
    EXPECT_FALSE(unit->LoadFromCache(c.image.data(), static_cast<int>(c.image.size())));
    EXPECT_EQ(unit->dataReady_, 0);
    EXPECT_EQ(Query(*unit, "ia"), "数据未就绪");
  }
}

TEST_F(AcTest, SavedImageLoadsBackUnchanged) {
  auto first = MakeUnit();
  FeedAnalog(*first, 2);
  Feed(*first, &Base::parse40_44, Alarm(2, {1, 2, 3, 0}, {3, 2, 1}));
  first->RoundDone();
  const auto saved = bench.controller->Journal(zel::Event::Kind::History);
  ASSERT_EQ(saved.size(), 1u);

  auto second = MakeUnit();
  ASSERT_TRUE(
      second->LoadFromCache(saved[0].bytes.data(), static_cast<int>(saved[0].bytes.size())));
  second->RoundDone();
  EXPECT_EQ(LastImage(), saved[0].bytes);
}

TEST_F(AcTest, TwoChannelRound) {
  auto unit = MakeUnit<SpyAC>();
  FeedAnalog(*unit, 2);
  Feed(*unit, &Base::parse40_44, Alarm(2, {0, 0, 0, 0}, {0, 0, 0}));
  unit->RoundDone();

  const auto published = bench.controller->Journal(zel::Event::Kind::Publish);
  ASSERT_EQ(published.size(), 1u);
  EXPECT_EQ(published[0].dataType, 5106);
  EXPECT_EQ(unit->changedFlags, std::vector<bool>{false});
  const std::vector<unsigned char>& image = published[0].bytes;
  ASSERT_EQ(image.size(), 92u);
  EXPECT_EQ(std::vector<unsigned char>(image.begin(), image.begin() + 4),
            (std::vector<unsigned char>{kId, 0, 0, 0}));
  EXPECT_EQ(image[16], 2);
  EXPECT_EQ(std::vector<unsigned char>(image.begin() + 25, image.begin() + 32), kStamp);
  tele_c_rvt2600_ac_channel second{};
  std::memcpy(&second, image.data() + 62, sizeof second);
  EXPECT_FLOAT_EQ(second.a, 221.0f);
  EXPECT_FLOAT_EQ(second.f, 51.0f);
  const auto saved = bench.controller->Journal(zel::Event::Kind::History);
  ASSERT_EQ(saved.size(), 1u);
  EXPECT_EQ(saved[0].bytes, image);

  struct Rule {
    const char* id;
    const char* code;
    const char* name;
    const char* text;  // after the panel text for channel rules
    int level;
  };
  const Rule channelRules[] = {
      {"AC_0", "06015", "交流输入电压过低告警", "输入线/相电压AB/A", 3},
      {"AC_1", "06015", "交流输入电压过低告警", "输入线/相电压BC/B", 3},
      {"AC_2", "06015", "交流输入电压过低告警", "输入线/相电压CA/C", 3},
      {"AC_3", "06019", "交流输入频率过低告警", "频率", 3},
      {"AC_4", "06014", "交流输入电压过高告警", "输入线/相电压AB/A", 2},
      {"AC_5", "06014", "交流输入电压过高告警", "输入线/相电压BC/B", 2},
      {"AC_6", "06014", "交流输入电压过高告警", "输入线/相电压CA/C", 2},
      {"AC_7", "06018", "交流输入频率过高告警", "频率", 2},
      {"AC_8", "06017", "交流输入缺相告警", "输入线/相电压AB/A", 2},
      {"AC_9", "06017", "交流输入缺相告警", "输入线/相电压BC/B", 2},
      {"AC_10", "06017", "交流输入缺相告警", "输入线/相电压CA/C", 2},
  };
  const Rule unitRules[] = {
      {"AC_12", "06029", "A相输入电流低于下限", "其他告警", 3},
      {"AC_13", "06029", "B相输入电流低于下限", "其他告警", 3},
      {"AC_14", "06029", "C相输入电流低于下限", "其他告警", 3},
      {"AC_15", "06029", "A相输入电流高于上限", "其他告警", 3},
      {"AC_16", "06029", "B相输入电流高于上限", "其他告警", 3},
      {"AC_17", "06029", "C相输入电流高于上限", "其他告警", 3},
      {"AC_18", "06029", "A相输入电流缺项", "其他告警", 3},
      {"AC_19", "06029", "B相输入电流缺项", "其他告警", 3},
      {"AC_20", "06029", "C相输入电流缺项", "其他告警", 3},
  };
  std::vector<Rule> expected;
  std::vector<std::string> texts;
  for (int panel = 1; panel <= 2; ++panel)
    for (const Rule& r : channelRules) {
      expected.push_back(r);
      texts.push_back("交流屏" + std::to_string(panel) + r.text);
    }
  for (const Rule& r : unitRules) {
    expected.push_back(r);
    texts.push_back(r.text);
  }

  const std::vector<rule_value> rules = LastRules();
  ASSERT_EQ(rules.size(), 31u);
  for (size_t k = 0; k < rules.size(); ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(rules[k].seq, k + 1);
    EXPECT_EQ(rules[k].id, expected[k].id);
    EXPECT_EQ(rules[k].code, expected[k].code);
    EXPECT_EQ(rules[k].name, expected[k].name);
    EXPECT_EQ(rules[k].text, texts[k]);
    EXPECT_EQ(rules[k].level, expected[k].level);
    EXPECT_FALSE(rules[k].active);
  }
  EXPECT_EQ(rules[11].text, "交流屏2输入线/相电压AB/A");
  EXPECT_TRUE(unit->rules_.empty());
}

TEST_F(AcTest, ActiveRulesFollowTheStateCodes) {
  struct Case {
    std::array<int, 4> channel;  // a, b, c, f
    std::array<int, 3> phases;   // ia, ib, ic
    std::vector<std::string> active;
  } cases[] = {
      {{0, 0, 0, 0}, {0, 0, 0}, {}},
      {{0, 0, 3, 0}, {0, 0, 0}, {"AC_10"}},
      {{0, 0, 2, 0}, {0, 0, 0}, {"AC_6"}},
      {{0, 2, 0, 0}, {0, 0, 0}, {"AC_5"}},
      {{1, 0, 0, 1}, {0, 0, 0}, {"AC_0", "AC_3"}},
      {{0, 0, 0, 2}, {0, 0, 0}, {"AC_7"}},
      {{0, 0, 0, 3}, {0, 0, 0}, {}},
      {{4, 4, 4, 4}, {4, 4, 4}, {}},
      {{0, 0, 0, 0}, {1, 2, 3}, {"AC_12", "AC_16", "AC_20"}},
      {{3, 1, 0, 0}, {2, 0, 0}, {"AC_1", "AC_8", "AC_15"}},
  };
  auto unit = MakeUnit();
  FeedAnalog(*unit, 1);
  for (const Case& c : cases) {
    ASSERT_EQ(Feed(*unit, &Base::parse40_44, Alarm(1, c.channel, c.phases)), 18);
    unit->RoundDone();
    std::vector<std::string> active;
    for (const rule_value& r : LastRules())
      if (r.active) active.push_back(r.id);
    EXPECT_EQ(active, c.active) << c.channel[0] << c.channel[1] << c.channel[2] << c.channel[3]
                                << " " << c.phases[0] << c.phases[1] << c.phases[2];
  }
}

TEST_F(AcTest, ImageFollowsTheChannelCount) {
  auto unit = MakeUnit();
  ASSERT_EQ(FeedAnalog(*unit, 0), 13);
  unit->RoundDone();
  EXPECT_EQ(LastImage().size(), 32u);
  std::vector<rule_value> rules = LastRules();
  ASSERT_EQ(rules.size(), 9u);
  EXPECT_EQ(rules.front().id, "AC_12");
  EXPECT_EQ(rules.front().seq, 1u);
  EXPECT_EQ(rules.back().seq, 9u);

  // The first count that means channels is still taken, and the next round's image holds them.
  ASSERT_EQ(FeedAnalog(*unit, 2), 47);
  unit->RoundDone();
  std::vector<unsigned char> image = LastImage();
  ASSERT_EQ(image.size(), 92u);
  EXPECT_EQ(unit->image_size, 92u);
  tele_c_rvt2600_ac_channel second{};
  std::memcpy(&second, image.data() + 62, sizeof second);
  EXPECT_FLOAT_EQ(second.c, 223.0f);
  EXPECT_EQ(LastRules().size(), 31u);
  EXPECT_EQ(bench.controller->Journal(zel::Event::Kind::History).back().bytes, image);

  // A cache image of one channel changes the count again.
  std::vector<unsigned char> cached = CacheImage(1);
  cached.resize(62);
  ASSERT_TRUE(unit->LoadFromCache(cached.data(), 62));
  unit->RoundDone();
  image = LastImage();
  ASSERT_EQ(image.size(), 62u);
  EXPECT_EQ(std::vector<unsigned char>(image.begin(), image.begin() + 25),
            std::vector<unsigned char>(cached.begin(), cached.begin() + 25));
  EXPECT_EQ(std::vector<unsigned char>(image.begin() + 32, image.end()),
            std::vector<unsigned char>(cached.begin() + 32, cached.end()));
  EXPECT_EQ(LastRules().size(), 20u);
}

// Inputs added and removed at the site: 2, then 1, then 3 channels. Each change is logged once,
// in the round it comes in; the round completes with an image, rules and lookups of the new
// count. A cache image of another count after that is taken as before, and the next reply's
// count is a change against it.
TEST_F(AcTest, ChannelCountChangesAcrossRounds) {
  const std::string changed = "PMBusPowerAC:ProcotolError 7 read 40_41 channel_count changed ";
  struct Round {
    int channels;
    std::vector<std::string> logs;
  } rounds[] = {
      {2, {}}, {2, {}}, {1, {changed + "2 -> 1"}}, {1, {}}, {3, {changed + "1 -> 3"}}, {3, {}},
  };
  auto unit = MakeUnit();
  for (const Round& r : rounds) {
    SCOPED_TRACE(&r - rounds + 1);
    const size_t n = static_cast<size_t>(r.channels);
    bench.controller->ClearJournal();
    ASSERT_EQ(FeedAnalog(*unit, r.channels), static_cast<int>(13 + 17 * n));
    // The last channel's frequency is high.
    Part alarm = Alarm(r.channels, {0, 0, 0, 0}, {0, 0, 0});
    alarm.bytes[1 + 14 * (n - 1) + 3] = 2;
    ASSERT_EQ(Feed(*unit, &Base::parse40_44, alarm), static_cast<int>(4 + 14 * n));
    unit->RoundDone();
    EXPECT_EQ(Logs(), r.logs);

    const std::vector<unsigned char> image = LastImage();
    ASSERT_EQ(image.size(), 32 + 30 * n);
    EXPECT_EQ(unit->image_size, image.size());
    EXPECT_EQ(image[16], r.channels);
    tele_c_rvt2600_ac_channel last{};
    std::memcpy(&last, image.data() + 32 + 30 * (n - 1), sizeof last);
    EXPECT_FLOAT_EQ(last.a, 220.0f + r.channels - 1);
    EXPECT_EQ(last.f_alert, 2);
    EXPECT_EQ(bench.controller->Journal(zel::Event::Kind::History).back().bytes, image);

    const std::vector<rule_value> rules = LastRules();
    ASSERT_EQ(rules.size(), 11 * n + 9);
    const rule_value& high = rules[11 * (n - 1) + 7];
    EXPECT_EQ(high.id, "AC_7");
    EXPECT_EQ(high.text, "交流屏" + std::to_string(n) + "频率");
    EXPECT_TRUE(high.active);
    EXPECT_EQ(
        std::count_if(rules.begin(), rules.end(), [](const rule_value& x) { return x.active; }), 1);
    EXPECT_EQ(rules.back().seq, 11 * n + 9);

    float value = 0;
    EXPECT_EQ(Query(*unit, "channel_" + std::to_string(n - 1) + "_a", &value), "");
    EXPECT_FLOAT_EQ(value, 220.0f + r.channels - 1);
    EXPECT_EQ(Query(*unit, "channel_" + std::to_string(n) + "_a"), "通道参数越界");
    Advance(2);
  }

  bench.controller->ClearJournal();
  const std::vector<unsigned char> cached = CacheImage(2);
  ASSERT_TRUE(unit->LoadFromCache(cached.data(), static_cast<int>(cached.size())));
  EXPECT_EQ(Query(*unit, "channel_2_a"), "通道参数越界");
  unit->RoundDone();
  EXPECT_EQ(LastImage().size(), 92u);
  EXPECT_EQ(LastRules().size(), 31u);
  ASSERT_EQ(FeedAnalog(*unit, 3), 64);
  unit->RoundDone();
  EXPECT_EQ(LastImage().size(), 122u);
  EXPECT_EQ(Logs(), std::vector<std::string>{changed + "2 -> 3"});
}

// A first reply that ran past its length still left its count in the record; the next sound
// reply is read by its own count, and the round completes.
TEST_F(AcTest, AFirstReplyRefusedForItsLengthDoesNotDecideHowTheNextIsRead) {
  auto unit = MakeUnit();
  const Part two = Analog(2);
  testing::internal::CaptureStdout();
  EXPECT_EQ(Feed(*unit, &Base::parse40_41, Part{{two.bytes.begin(), two.bytes.begin() + 20}}), -1);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(unit->record.channel_count, 2);

  const Part one = Part().u8(1).f(231).f(232).f(233).f(50).u8(0).f(7).f(8).f(9);
  testing::internal::CaptureStdout();
  EXPECT_EQ(Feed(*unit, &Base::parse40_41, one), 30);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "a:231 b:232 c:233 f:50\n");
  EXPECT_EQ(Logs(), (std::vector<std::string>{
                        "PMBusPowerAC:ProcotolError 7 read 40_41 read overflow 22 - 20",
                        "PMBusPowerAC:ProcotolError 7 read 40_41 channel_count changed 2 -> 1"}));
  unit->RoundDone();
  EXPECT_EQ(LastImage().size(), 62u);
  float value = 0;
  EXPECT_EQ(Query(*unit, "channel_0_c", &value), "");
  EXPECT_FLOAT_EQ(value, 233.0f);
  EXPECT_EQ(Query(*unit, "ic", &value), "");
  EXPECT_FLOAT_EQ(value, 9.0f);
}

TEST_F(AcTest, MovementVerdictComparesVoltagesWithThePreviousImage) {
  Json::Value settings;
  Json::Reader().parse(R"({"appSetting":{"diff_v":"5","diff_i":1}})", settings);
  auto unit = MakeUnit(settings);
  EXPECT_FLOAT_EQ(unit->diff_v, 5.0f);
  EXPECT_FLOAT_EQ(unit->diff_i, 1.0f);

  struct Step {
    float a, b, ia;
    bool moved;
  } steps[] = {
      {220, 221, 10, true},      // not ready yet
      {220, 221, 10, false},     // unchanged
      {224.9f, 221, 10, false},  // below the threshold
      {229.8f, 221, 10, false},  // against the previous image, not the first
      {229.8f, 216, 10, true},   // b fell by exactly 5
      {229.8f, 216, 90, false},  // currents are not compared
  };
  testing::internal::CaptureStdout();
  for (const Step& s : steps) {
    const Part part = Part().u8(1).f(s.a).f(s.b).f(222).f(50).u8(0).f(s.ia).f(11).f(12);
    EXPECT_EQ(Feed(*unit, &Base::parse40_41, part), 30);
    unit->RoundDone();
    EXPECT_EQ(unit->moved, s.moved) << s.a << " " << s.b << " " << s.ia;
  }
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(bench.controller->Journal(zel::Event::Kind::Publish).size(), 6u);  // every round
}

}  // namespace
