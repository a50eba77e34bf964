// What a round allocates: handling a reply nothing, once the model check is done; completing a
// round of the reference site only what the host contract forces of each unit.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include "BenchKit.h"
#include "CountingNew.h"
#include "CycleKit.h"

namespace {
std::atomic<bool> counting{false};
std::atomic<long> allocations{0};
}  // namespace

void bench::OnNew() noexcept {
  if (counting) ++allocations;
}

namespace {

// A reply record of exactly its size.
std::vector<unsigned char> Record(unsigned char cid1, const std::string& infoHex) {
  const std::vector<unsigned char> info = zel::FromHex(infoHex);
  std::vector<unsigned char> raw = {0x20,
                                    0x01,
                                    cid1,
                                    0x00,
                                    static_cast<unsigned char>((2 * info.size()) & 0xFF),
                                    static_cast<unsigned char>((2 * info.size()) >> 8)};
  raw.insert(raw.end(), info.begin(), info.end());
  return raw;
}

template <class Fn>
long Allocations(Fn&& fn) {
  allocations = 0;
  counting = true;
  fn();
  counting = false;
  return allocations.exchange(0);
}

// The host's side of a reply (framing the next request, or the reset at the end of a round)
// may allocate; the root's own handling adds nothing to it.
TEST(RootAllocation, ARoundOfRepliesAllocatesNothingOfItsOwn) {
  rvt_test::FakeRoot root;
  Json::Value settings(Json::objectValue);
  settings["acSetting"][0]["data_id"] = 11;
  settings["acSetting"][1]["data_id"] = 12;
  settings["dcSetting"][0]["data_id"] = 21;
  settings["rcSetting"] = Json::Value(Json::objectValue);
  ASSERT_TRUE(root.InitSetting(settings));
  for (const auto& unit : root.GetAllChildVDevices())
    static_cast<rvt_test::FakeUnit&>(*unit).record = false;
  root.modelCheckPending_ = 0;
  root.OpenPort();
  ASSERT_TRUE(root.RefreshStatus());

  const unsigned requests[] = {0x4041, 0x4043, 0x4044, 0x4141, 0x4143,
                               0x4144, 0x4241, 0x4244, 0x4046, 0x4246};
  const size_t n = sizeof requests / sizeof requests[0];
  std::vector<std::vector<unsigned char>> replies;
  for (unsigned r : requests)
    replies.push_back(Record(static_cast<unsigned char>(r >> 8),
                             rvt_test::ReplyInfo(r >> 8, r & 0xFF, 2, 1, rvt_test::Answers{})));

  for (size_t k = 0; k < n; ++k) {
    SCOPED_TRACE(k);
    ASSERT_EQ(root.lastCid1_ << 8 | root.lastCid2_, static_cast<int>(requests[k]));
    long host;
    if (k + 1 < n) {
      const unsigned char cid1 = static_cast<unsigned char>(requests[k + 1] >> 8);
      const unsigned char cid2 = static_cast<unsigned char>(requests[k + 1]);
      host = Allocations([&] {
        if (cid1 == 0x40 && cid2 != 0x46) {
          root.write_pmbus_cmd(cid1, cid2, &root.commandGroup_, 1);
        } else {
          root.write_pmbus_cmd(cid1, cid2);
        }
      });
      root.lastCid1_ = static_cast<unsigned char>(requests[k] >> 8);
      root.lastCid2_ = static_cast<unsigned char>(requests[k]);
    } else {
      host = Allocations([&] { root.Reset(); });
    }
    root.reply_ = reinterpret_cast<ReplyRecord*>(replies[k].data());
    int result = -1;
    EXPECT_EQ(Allocations([&] { result = root.process_payload(); }), host);
    EXPECT_EQ(result, k + 1 == n ? 0 : 1);
  }
  root.reply_ = nullptr;
}

// The rules the host evaluated, per data id, as a tape wrote them down.
std::map<unsigned, std::vector<rule_value>> RulesOf(const bench::HostTape& tape) {
  std::map<unsigned, std::vector<rule_value>> out;
  for (const bench::HostCall& c : tape.calls)
    if (c.kind == bench::HostCall::Kind::Rules) out[c.device] = c.rules;
  return out;
}

// The reference site: one AC unit of three channels, one DC unit of 64 fuses, six rectifier
// modules, 114 rules a round. Its own output (the AC unit's lines, the DC unit's) is captured.
class ReferenceRound : public ::testing::Test {
 protected:
  struct CapturedOutput {
    CapturedOutput() { testing::internal::CaptureStdout(); }
    ~CapturedOutput() { testing::internal::GetCapturedStdout(); }
  };

  CapturedOutput output_;  // before the site, which runs two rounds when it is made
  bench::ReferenceSite site;
};

// Of a usual round, the units' own allocations are what the host contract forces of each: the
// work item, the copy of the image it saves, and the rule list made ready for the next round
// after the rules went with the item. The host's copies of the rule strings are the host's.
TEST_F(ReferenceRound, AUsualRoundAllocatesAtMostThreeBlocksAUnitOfItsOwn) {
  constexpr long kUnits = 3;
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    const bench::HostTape tape = site.Tape([&] { site.Round(false); });
    const auto rules = RulesOf(tape);
    ASSERT_EQ(rules.size(), 3u);
    EXPECT_EQ(rules.at(bench::ReferenceSite::kAcId).size(), 42u);
    EXPECT_EQ(rules.at(bench::ReferenceSite::kDcId).size(), 66u);
    EXPECT_EQ(rules.at(bench::ReferenceSite::kRootId).size(), 6u);

    int replies = 0;
    const long whole = Allocations([&] { replies = site.Round(false); });
    const long host = Allocations([&] { site.RunHostShare(tape); });
    EXPECT_EQ(replies, 5);
    EXPECT_LE(whole - host, 3 * kUnits) << whole << " in all, " << host << " by the host";
  }
}

// The texts a unit keeps follow its channel and module counts: after a cache image with another
// count, the next round names every channel and module it has, and only those.
TEST_F(ReferenceRound, KeptTextsFollowTheCounts) {
  ZelVDevice& ac = site.Unit(bench::ReferenceSite::kAcId);
  ZelVDevice& rc = *site.root().rcUnit_;
  const auto rounds = [&] {
    ac.RoundDone();
    rc.RoundDone();
  };
  for (const unsigned count : {1u, 4u, 2u}) {
    SCOPED_TRACE(count);
    std::vector<unsigned char> acImage(32 + 30 * count), rcImage(65 + 32 * count);
    acImage[16] = static_cast<unsigned char>(count);
    rcImage[57] = static_cast<unsigned char>(count);
    ASSERT_TRUE(ac.LoadFromCache(acImage.data(), static_cast<int>(acImage.size())));
    ASSERT_TRUE(rc.LoadFromCache(rcImage.data(), static_cast<int>(rcImage.size())));
    const auto rules = RulesOf(site.Tape(rounds));

    const std::vector<rule_value>& acRules = rules.at(bench::ReferenceSite::kAcId);
    ASSERT_EQ(acRules.size(), 11 * count + 9);
    for (size_t k = 0; k < acRules.size(); ++k) {
      const std::string panel = "交流屏" + std::to_string(k / 11 + 1);
      if (k < 11 * count) {
        EXPECT_EQ(acRules[k].text.compare(0, panel.size(), panel), 0) << acRules[k].text;
      } else {
        EXPECT_EQ(acRules[k].text, "其他告警");
      }
    }
    const std::vector<rule_value>& rcRules = rules.at(bench::ReferenceSite::kRootId);
    ASSERT_EQ(rcRules.size(), count);
    for (size_t k = 0; k < count; ++k)
      EXPECT_EQ(rcRules[k].text, "模块" + std::to_string(k + 1) + "整流模块故障告警");
  }
}

}  // namespace
