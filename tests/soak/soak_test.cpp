// The simulator's hooks for the long runs: line noise, the cycle of rounds and the truth images.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Frame.h"
#include "Responder.h"
#include "Scenario.h"
#include "SoakKit.h"
#include "Truth.h"

namespace {

// The reply bytes a responder writes for each request of the command chain, `rounds` times.
std::vector<std::string> Replies(sim::Responder& responder, int rounds) {
  static const uint16_t kChain[] = {sim::kAcAnalog, sim::kAcSwitch, sim::kAcAlarm,  sim::kRcAnalog,
                                    sim::kRcSwitch, sim::kRcAlarm,  sim::kDcAnalog, sim::kDcAlarm,
                                    sim::kAcParam,  sim::kDcParam};
  std::vector<std::string> out;
  for (int r = 0; r < rounds; ++r) {
    for (uint16_t command : kChain) {
      framing::Frame request;
      request.cid1 = static_cast<uint8_t>(command >> 8);
      request.cid2 = static_cast<uint8_t>(command);
      std::string bytes;
      for (const std::string& piece : responder.Answer(request).pieces) bytes += piece;
      out.push_back(bytes);
    }
  }
  return out;
}

sim::Scenario Reference(double dropPercent, double flipPercent, uint64_t seed = 5) {
  sim::LineNoise noise;
  noise.seed = seed;
  noise.dropPercent = dropPercent;
  noise.flipPercent = flipPercent;
  return soak::LoadScenario(soak::ReferenceScenario(), noise);
}

TEST(LineNoise, EachDamagedReplyLostOneByteOrOneBitAndIsCounted) {
  sim::Responder sound(Reference(0, 0));
  sim::Responder noisy(Reference(20, 20));
  const auto clean = Replies(sound, 40);
  const auto damaged = Replies(noisy, 40);
  ASSERT_EQ(clean.size(), damaged.size());
  uint64_t dropped = 0, flipped = 0;
  for (size_t k = 0; k < clean.size(); ++k) {
    const std::string& a = clean[k];
    const std::string& b = damaged[k];
    if (a == b) continue;
    if (b.size() + 1 == a.size()) {
      size_t at = 0;
      while (at < b.size() && a[at] == b[at]) ++at;
      EXPECT_EQ(a.substr(at + 1), b.substr(at)) << "reply " << k << " lost more than a byte";
      ++dropped;
      continue;
    }
    ASSERT_EQ(a.size(), b.size()) << "reply " << k;
    std::vector<unsigned> changed;
    for (size_t i = 0; i < a.size(); ++i)
      if (a[i] != b[i]) changed.push_back(static_cast<unsigned char>(a[i] ^ b[i]));
    ASSERT_EQ(changed.size(), 1u) << "reply " << k << " changed in more than one byte";
    EXPECT_EQ(changed[0] & (changed[0] - 1), 0u) << "reply " << k << " changed in more than a bit";
    ++flipped;
  }
  EXPECT_GT(dropped, 0u);
  EXPECT_GT(flipped, 0u);
  EXPECT_EQ(noisy.Damage().dropped, dropped);
  EXPECT_EQ(noisy.Damage().flipped, flipped);

  // The same seed damages the same replies the same way.
  sim::Responder again(Reference(20, 20));
  EXPECT_EQ(Replies(again, 40), damaged);
}

TEST(ScenarioCycle, RoundsPastTheCyclePlayItsRoundsAgain) {
  const sim::Scenario s = sim::Scenario::Parse(R"({
    "cycle": 3, "dc": [{"v": 1.0}],
    "changes": [{"round": 2, "set": {"dc/0/v": 2.0}}, {"round": 3, "set": {"dc/0/v": 3.0}}]})",
                                               "test");
  const float expected[] = {1, 1, 2, 3, 1, 2, 3, 1};  // rounds 0 to 7
  for (unsigned round = 0; round < 8; ++round)
    EXPECT_EQ(s.SiteAt(round).dc[0].v, sim::Word::Float(expected[round])) << "round " << round;
}

TEST(ScenarioCycle, BadCycleAndNoiseSettingsAreRefused) {
  const char* const cases[] = {
      R"({"cycle": -1})",
      R"({"line_noise": {"drop_percent": 101}})",
      R"({"line_noise": {"drop_percent": 60, "flip_percent": 50}})",
      R"({"line_noise": {"seed": "x"}})",
      R"({"line_noise": {"flip": 1}})",
      R"({"line_noise": 1})",
  };
  for (const char* text : cases)
    EXPECT_THROW(sim::Scenario::Parse(text, "test"), sim::ScenarioError) << text;
}

TEST(TruthImages, ForSitesWhoseListsFillTheRecordsOnly) {
  const sim::ImageIds ids{{101}, {102}, 100};
  sim::Images images;
  const sim::Scenario reference = Reference(0, 0);
  ASSERT_TRUE(sim::TruthImages(reference.SiteAt(1), ids, sim::Stamp{}, images));
  EXPECT_EQ(images.ac[0].size(), 32u + 3 * 30);
  EXPECT_EQ(images.rc.size(), 65u + 6 * 32);
  EXPECT_EQ(images.dc[0].size(), 166u);

  // Without M, N and P values the DC image would keep what earlier replies left.
  sim::Site site = reference.SiteAt(1);
  site.dc[0].m.clear();
  EXPECT_FALSE(sim::TruthImages(site, ids, sim::Stamp{}, images));
  EXPECT_FALSE(
      sim::TruthImages(reference.SiteAt(1), sim::ImageIds{{101}, {}, 100}, sim::Stamp{}, images));
}

}  // namespace
