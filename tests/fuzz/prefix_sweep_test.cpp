// Every prefix of every seed reply: through its parse operation on a block of exactly the
// prefix's size, and through the cycle at the step the reply answers. The sanitizer build sees
// any read past a prefix; every build sees what a cut reply leads to.
#include <gtest/gtest.h>

#include "Cycle.h"
#include "ParseOps.h"
#include "Seeds.h"

namespace {

using rvt_fuzz::Cycle;
using rvt_fuzz::SessionCall;
using Faults = std::vector<std::string>;

// The units print diagnostic lines of their own, thousands in a sweep; what went wrong is
// collected meanwhile and checked once the output is back.
class Quiet {
 public:
  Quiet() { testing::internal::CaptureStdout(); }
  ~Quiet() { testing::internal::GetCapturedStdout(); }
};

TEST(PrefixSweep, APartCutShortIsRefused) {
  size_t swept = 0;
  Faults faults;
  {
    Quiet quiet;
    for (const rvt_fuzz::Seed& seed : rvt_fuzz::Seeds()) {
      const rvt_fuzz::ParseOp* op = rvt_fuzz::FindParseOp(seed.target);
      if (op == nullptr) continue;
      const std::string name = seed.target + "/" + seed.name;
      const int whole = static_cast<int>(seed.bytes.size());
      std::string broken;
      const int all = op->run(seed.bytes.data(), seed.bytes.size(), broken);
      if (all != whole) faults.push_back(name + " whole gave " + std::to_string(all));
      for (int k = 0; k < whole; ++k) {
        const int result = op->run(seed.bytes.data(), static_cast<size_t>(k), broken);
        if (!(result == -1 || (op->claimsPastCut && result > k) ||
              (op->takesWhatIsThere && result == k)))
          faults.push_back(name + " cut to " + std::to_string(k) + " gave " +
                           std::to_string(result));
      }
      if (!broken.empty()) faults.push_back(name + ": " + broken);
      ++swept;
    }
  }
  EXPECT_GT(swept, 0u);
  EXPECT_EQ(faults, Faults());
}

// Only these steps may go on with a reply cut short: a model reply with a short field (logged),
// a switch-state reply without unit parts, parameters whose count byte says more than the
// reply holds (logged), and user-defined DC parameters taken as far as the reply holds them.
bool MayGoOn(uint32_t step, size_t cut) {
  return step == 14 || (step == 1 && cut <= 2) || (step == 3 && cut >= 21) ||
         (step == 9 && cut >= 9);
}

TEST(PrefixSweep, AReplyCutShortIsDroppedWhereItsPartsMustFillIt) {
  Faults faults;
  {
    Quiet quiet;
    for (const rvt_fuzz::Session& session : rvt_fuzz::Sessions()) {
      const std::vector<SessionCall> calls = rvt_fuzz::Calls(session);
      for (size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].kind != SessionCall::Kind::Reply) continue;
        for (size_t cut = 0; cut < calls[i].info.size(); ++cut) {
          const std::string where = std::string(session.name) + " call " + std::to_string(i) +
                                    " cut to " + std::to_string(cut);
          Cycle cycle(session.shape);
          for (size_t k = 0; k < i; ++k) rvt_fuzz::Play(cycle, calls[k]);
          const uint32_t step = cycle.Step();
          const uint64_t requests = cycle.Requests();
          const uint64_t rounds = cycle.Rounds();
          cycle.Reply(calls[i].cid1, calls[i].info.data(), cut);
          if (!cycle.Broken().empty()) faults.push_back(where + ": " + cycle.Broken());
          if (!MayGoOn(step, cut) && (cycle.Requests() != requests || cycle.Rounds() != rounds))
            faults.push_back(where + ": step " + std::to_string(step) + " went on");
        }
      }
    }
  }
  EXPECT_EQ(faults, Faults());
}

}  // namespace
