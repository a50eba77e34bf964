// Rounds with the work items on the host's worker thread, as the bench host runs them: the
// worker evaluates a round's rules and saves its images while the polling thread goes on with
// the next round. Under ThreadSanitizer this is the plugin's side of the worker.
#include <gtest/gtest.h>

#include <map>

#include "Cycle.h"
#include "Seeds.h"

namespace {

using rvt_fuzz::SessionCall;
using Images = std::map<unsigned, std::vector<std::vector<unsigned char>>>;

Images ImagesBy(zel::Controller& host, zel::Event::Kind kind) {
  Images out;
  for (const zel::Event& e : host.Journal(kind)) out[e.device].push_back(e.bytes);
  return out;
}

struct Outcome {
  std::string broken;
  uint64_t rounds = 0;
  uint64_t sessionRounds = 0;
  Images published;
  Images saved;
};

// The session once, then its rounds again and again (the model query is made once).
Outcome PlayWithWorker(const rvt_fuzz::Session& session, int repeats) {
  rvt_fuzz::SiteShape shape = session.shape;
  shape.worker = true;
  rvt_fuzz::Cycle cycle(shape);
  const std::vector<SessionCall> calls = rvt_fuzz::Calls(session);
  size_t model = 0;
  while (calls[model].kind != SessionCall::Kind::Reply) ++model;
  for (const SessionCall& call : calls) rvt_fuzz::Play(cycle, call);
  Outcome out;
  out.sessionRounds = cycle.Rounds();
  for (int r = 0; r < repeats; ++r) {
    cycle.Refresh(2);
    for (size_t k = model + 1; k < calls.size(); ++k) rvt_fuzz::Play(cycle, calls[k]);
  }
  cycle.Host().Drain();
  out.broken = cycle.Broken();
  out.rounds = cycle.Rounds();
  out.published = ImagesBy(cycle.Host(), zel::Event::Kind::Publish);
  out.saved = ImagesBy(cycle.Host(), zel::Event::Kind::History);
  return out;
}

TEST(WorkerRound, EverySavedImageIsTheOneItsRoundPublished) {
  constexpr int kRepeats = 10;
  for (const rvt_fuzz::Session& session : rvt_fuzz::Sessions()) {
    SCOPED_TRACE(session.name);
    testing::internal::CaptureStdout();  // the units' own diagnostic lines
    const Outcome out = PlayWithWorker(session, kRepeats);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.broken, "");
    EXPECT_EQ(out.rounds, out.sessionRounds * (kRepeats + 1));
    EXPECT_EQ(out.published.size(), session.shape.ac + session.shape.dc + 1);
    EXPECT_EQ(out.saved, out.published);
  }
}

}  // namespace
