// The seed corpus: each session, written as an input of the cycle target, plays back as the
// same session.
#include <gtest/gtest.h>

#include "CycleScript.h"
#include "Seeds.h"

namespace {

struct Played {
  std::string name;
  rvt_fuzz::ScriptRun direct;
  rvt_fuzz::ScriptRun fromInput;
};

TEST(CycleSeeds, EachSessionPlaysBackFromItsFuzzInput) {
  std::vector<Played> played;
  testing::internal::CaptureStdout();  // the units' own diagnostic lines
  const std::vector<rvt_fuzz::Seed> seeds = rvt_fuzz::Seeds();
  for (const rvt_fuzz::Session& session : rvt_fuzz::Sessions()) {
    rvt_fuzz::Cycle cycle(session.shape);
    for (const rvt_fuzz::SessionCall& call : rvt_fuzz::Calls(session)) rvt_fuzz::Play(cycle, call);
    std::vector<uint8_t> input;
    for (const rvt_fuzz::Seed& seed : seeds)
      if (seed.target == "cycle" && seed.name == session.name) input = seed.bytes;
    played.push_back({session.name,
                      {cycle.Broken(), cycle.Requests(), cycle.Rounds()},
                      rvt_fuzz::RunCycleScript(input.data(), input.size())});
  }
  testing::internal::GetCapturedStdout();

  for (const Played& p : played) {
    SCOPED_TRACE(p.name);
    EXPECT_EQ(p.direct.broken, "");
    EXPECT_GT(p.direct.rounds, 0u);
    EXPECT_EQ(p.fromInput.broken, "");
    EXPECT_EQ(p.fromInput.requests, p.direct.requests);
    EXPECT_EQ(p.fromInput.rounds, p.direct.rounds);
  }
}

}  // namespace
