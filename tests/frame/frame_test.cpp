// The unit frame, through a small unit made for the test: one value, one state byte.
#include <gtest/gtest.h>
#include <json/json.h>

#include "HostTest.h"
#include "RecordLayout.h"
#include "UnitFrame.h"

namespace {

struct TestRecord {
  LeU32 data_id;
  LeF32 value;
  uint8_t state;
  rvt::TimeStamp time_stamp;
};
RVT_CHECK_RECORD(TestRecord, 16);
RVT_CHECK_FIELD(TestRecord, value, 4, 4);
RVT_CHECK_FIELD(TestRecord, state, 8, 1);
RVT_CHECK_FIELD(TestRecord, time_stamp, 9, 7);

class TestUnit : public UnitFrame {
 public:
  using VDeviceInterface::LoadFromCache;
  float Get_Value(unsigned int, const std::string& name) const override {
    CheckFresh();
    if (name == "value") return record.value;
    throw std::out_of_range("数据未提供");
  }
  bool LoadFromCache(const unsigned char* data, int len) override {
    if (len != static_cast<int>(sizeof record)) return false;
    std::memcpy(&record, data, sizeof record);
    MarkLoaded();
    return true;
  }
  bool InitV(ZelVDevice* parent, unsigned int id, const Json::Value& settings) override {
    record.data_id = id;
    ReadThresholds(settings, diff_v, diff_i);
    return ZelVDevice::InitV(parent, id, settings);
  }
  void RoundDone() override {
    StampRound(record.time_stamp);
    dataReady_ = 1;
    PublishRound(
        4242, RecordBytes(record), sizeof record,
        [this] {
          AddRule(3, "T_0", "01", "low", "low", record.state == 1);
          AddRule(2, "T_1", "02", "high", "high", record.state == 2);
        },
        [] {});
  }
  // value (marker -> -0.1), state
  int parse(const unsigned char* data, int remaining) {
    BoundedReader r(data, remaining);
    r.f32Or(record.value, -0.1f) && r.u8(record.state);
    return Finish(r, "Test:ProcotolError {} read overflow {} - {}");
  }

  TestRecord record{};
  float diff_v = 20.0f;
  float diff_i = 20.0f;
};

class FrameTest : public rvt_test::VirtualClockTest {
 protected:
  std::shared_ptr<TestUnit> MakeUnit(const Json::Value& settings = Json::Value()) {
    auto unit = std::make_shared<TestUnit>();
    root.Init(bench.controller, 1, Json::Value());
    unit->InitV(&root, 77, settings);
    return unit;
  }
  rvt_test::PlainDevice root;
};

TEST_F(FrameTest, QueryPreambleFollowsTheClock) {
  auto unit = MakeUnit();
  auto query = [&] { unit->Get_Value(0, "value"); };
  EXPECT_EQ(rvt_test::OutOfRangeText(query), "数据未就绪");
  Advance(3600);
  EXPECT_EQ(rvt_test::OutOfRangeText(query), "数据未就绪");

  unit->RoundDone();
  Advance(60);
  EXPECT_EQ(rvt_test::OutOfRangeText(query), "");
  Advance(1);
  EXPECT_EQ(rvt_test::OutOfRangeText(query), "数据已超时");
  unit->RoundDone();
  EXPECT_EQ(rvt_test::OutOfRangeText([&] { unit->Get_Value(0, "other"); }), "数据未提供");
}

TEST_F(FrameTest, CacheLoadAcceptsOnlyItsImage) {
  auto unit = MakeUnit();
  TestRecord image{};
  image.data_id = 5;
  image.value = 12.5f;
  const std::string bytes(reinterpret_cast<const char*>(&image), sizeof image);

  EXPECT_FALSE(unit->LoadFromCache(bytes.substr(0, 15)));
  EXPECT_EQ(rvt_test::OutOfRangeText([&] { unit->Get_Value(0, "value"); }), "数据未就绪");
  EXPECT_TRUE(unit->LoadFromCache(bytes));  // slot 1 forwards to slot 2
  EXPECT_FLOAT_EQ(unit->Get_Value(0, "value"), 12.5f);
  EXPECT_EQ(unit->record.data_id, 5u);  // the image's data id replaces InitV's
}

TEST_F(FrameTest, SettingsThresholds) {
  struct Case {
    const char* json;
    float v;
    float i;
  } cases[] = {
      {R"({"appSetting":{"diff_v":"0.5","diff_i":3}})", 0.5f, 3.0f},
      {R"({"appSetting":{"diff_v":"volts"}})", 0.0f, 20.0f},
      {R"({"appSetting":{"diff_i":"7.25"}})", 20.0f, 7.25f},
      {R"({})", 20.0f, 20.0f},
      {R"({"appSetting":5})", 20.0f, 20.0f},
      {R"({"appSetting":null})", 20.0f, 20.0f},
      {R"([1,2])", 20.0f, 20.0f},
  };
  for (const Case& c : cases) {
    Json::Value settings;
    ASSERT_TRUE(Json::Reader().parse(c.json, settings)) << c.json;
    auto unit = MakeUnit(settings);
    EXPECT_FLOAT_EQ(unit->diff_v, c.v) << c.json;
    EXPECT_FLOAT_EQ(unit->diff_i, c.i) << c.json;
    EXPECT_EQ(unit->DataId(), 77u) << c.json;
    EXPECT_EQ(unit->record.data_id, 77u) << c.json;
  }
}

TEST_F(FrameTest, ThresholdThatIsAnArrayThrowsBeforeTheHostInit) {
  Json::Value settings;
  Json::Reader().parse(R"({"appSetting":{"diff_v":[1]}})", settings);
  auto unit = std::make_shared<TestUnit>();
  EXPECT_ANY_THROW(unit->InitV(&root, 9, settings));
  EXPECT_EQ(unit->record.data_id, 9u);
  EXPECT_EQ(unit->DataId(), 0u);  // the host's InitV never ran
}

TEST_F(FrameTest, RoundPublishesNumbersRulesAndHandsThemOff) {
  auto unit = MakeUnit();
  for (int round = 0; round < 2; ++round) {
    unit->record.state = static_cast<uint8_t>(round + 1);
    unit->RoundDone();
    EXPECT_TRUE(unit->rules_.empty());
    EXPECT_GE(unit->rules_.capacity(), 2u);
    Advance(2);
  }
  const auto batches = bench.controller->Journal(zel::Event::Kind::Rules);
  ASSERT_EQ(batches.size(), 2u);
  for (int round = 0; round < 2; ++round) {
    const auto& rules = batches[round].rules;
    ASSERT_EQ(rules.size(), 2u);
    EXPECT_EQ(rules[0].seq, 1u);
    EXPECT_EQ(rules[1].seq, 2u);
    EXPECT_EQ(rules[0].active, round == 0);
    EXPECT_EQ(rules[1].active, round == 1);
  }
  const auto published = bench.controller->Journal(zel::Event::Kind::Publish);
  ASSERT_EQ(published.size(), 2u);
  EXPECT_EQ(published[0].dataType, 4242);
  ASSERT_EQ(published[0].bytes.size(), 16u);
  // Time stamp of the first round: 2026-01-01 08:00:00.
  const std::vector<unsigned char> stamp(published[0].bytes.begin() + 9, published[0].bytes.end());
  EXPECT_EQ(stamp, (std::vector<unsigned char>{0xEA, 0x07, 1, 1, 8, 0, 0}));
  EXPECT_EQ(bench.controller->Journal(zel::Event::Kind::History).size(), 2u);
}

TEST_F(FrameTest, AlarmFlagIsStickyAndSetOnlyByAnActiveBatch) {
  auto unit = MakeUnit();
  unit->RoundDone();
  EXPECT_EQ(unit->alarmFlag_, 0);
  unit->record.state = 2;
  unit->RoundDone();
  EXPECT_EQ(unit->alarmFlag_, 1);
  unit->record.state = 0;
  unit->RoundDone();
  EXPECT_EQ(unit->alarmFlag_, 1);
}

TEST(FrameWorkerTest, WorkItemSavesTheImageOfItsOwnRound) {
  zel::HostClock::UseVirtual(boost::posix_time::ptime(boost::gregorian::date(2026, 1, 1)));
  zel::Bench bench(zel::Controller::Work::Thread);
  rvt_test::PlainDevice root;
  root.Init(bench.controller, 1, Json::Value());
  auto unit = std::make_shared<TestUnit>();
  unit->InitV(&root, 3, Json::Value());

  bench.controller->HoldWork(true);
  unit->record.value = 1.0f;
  unit->RoundDone();
  unit->record.value = 2.0f;  // the next round has begun before the item runs
  unit->RoundDone();
  bench.controller->Drain();

  const auto saved = bench.controller->Journal(zel::Event::Kind::History);
  ASSERT_EQ(saved.size(), 2u);
  TestRecord first{}, second{};
  std::memcpy(&first, saved[0].bytes.data(), sizeof first);
  std::memcpy(&second, saved[1].bytes.data(), sizeof second);
  EXPECT_FLOAT_EQ(first.value, 1.0f);
  EXPECT_FLOAT_EQ(second.value, 2.0f);
  zel::HostClock::UseWallClock();
}

TEST_F(FrameTest, LengthRule) {
  auto unit = MakeUnit();
  const unsigned char part[] = {0x00, 0x00, 0x80, 0x3F, 0x02, 0xAA};
  EXPECT_EQ(unit->parse(part, 5), 5);
  EXPECT_FLOAT_EQ(unit->record.value, 1.0f);
  EXPECT_EQ(unit->record.state, 2);
  EXPECT_EQ(unit->parse(part, 6), 5);

  unit->record.state = 9;
  EXPECT_EQ(unit->parse(part, 4), -1);
  EXPECT_EQ(unit->record.state, 9);  // the field past the end is not stored
  EXPECT_EQ(Logs(), std::vector<std::string>{"Test:ProcotolError 77 read overflow 5 - 4"});
}

TEST(BoundedReaderTest, NotAvailableMarker) {
  struct Case {
    unsigned char bytes[4];
    float expected;
  } cases[] = {
      {{0x20, 0x20, 0x20, 0x20}, -0.1f}, {{0xFF, 0xFF, 0xFF, 0xFF}, -0.1f},
      {{0x00, 0x00, 0x00, 0x00}, 0.0f},  {{0x00, 0x01, 0x01, 0x01}, 2.3694278e-38f},
      {{0x00, 0x00, 0x80, 0x3F}, 1.0f},
  };
  for (const Case& c : cases) {
    BoundedReader r(c.bytes, 4);
    LeF32 v{};
    ASSERT_TRUE(r.f32Or(v, -0.1f));
    EXPECT_FLOAT_EQ(v, c.expected);
    EXPECT_EQ(r.needed(), 4);
  }
}

TEST(BoundedReaderTest, FailureIsStickyAndCountsTheBytesNeeded) {
  const unsigned char data[] = {1, 2, 3};
  BoundedReader r(data, 3);
  uint8_t a = 0, b = 0;
  EXPECT_TRUE(r.u8(a));
  EXPECT_FALSE(r.skip(8));  // claims more than is left
  EXPECT_EQ(r.needed(), 9);
  EXPECT_FALSE(r.u8(b));  // nothing more is read
  EXPECT_EQ(r.needed(), 9);
  EXPECT_EQ(b, 0);
  EXPECT_FALSE(r.ok());

  BoundedReader negative(data, -4);
  EXPECT_FALSE(negative.u8(a));
  EXPECT_EQ(negative.remaining(), -4);
}

}  // namespace
