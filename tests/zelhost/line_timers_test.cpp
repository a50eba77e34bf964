// zelhost's reply and gap timers on a pty, against a simulator that holds a reply back or
// pauses inside it: the reply time counts the request's line time and stops once a frame has
// started; a pause inside a frame longer than the gap time drops the frame.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LineServer.h"
#include "Scenario.h"
#include "ZelhostRun.h"

namespace {

using namespace zelhost_test;

// The margins are wide (100 ms and more on either side of each limit) so that a loaded machine
// or an emulator does not move a reply across one.
TEST_F(ZelhostTest, TheReplyTimeAndTheGapTimeOnALine) {
  struct Case {
    const char* what;
    std::string settings;  // of the device's line
    std::string fault;     // on the reply to 40 41 in round 1
    std::vector<std::string> logged;
  } cases[] = {
      // 20 request bytes at 600 baud: 334 ms of line time on top of the 100 ms.
      {"held past the reply time, within the request's line time: taken",
       R"("baud": 600, "reply_timeout_ms": 100,)",
       R"({"round": 1, "step": "40_41", "kind": "hold", "delay_ms": 200})",
       {}},
      {"a pause inside the frame longer than the gap time: dropped",
       R"("reply_timeout_ms": 600, "gap_ms": 50,)",
       R"({"round": 1, "step": "40_41", "kind": "chunks", "size": 40, "delay_ms": 250})",
       {"zelhost: reply to 40 41 dropped: gap inside a frame"}},
      {"longer in all than the reply time, never silent for the gap time: taken whole",
       R"("reply_timeout_ms": 100, "gap_ms": 300,)",
       R"({"round": 1, "step": "40_41", "kind": "chunks", "size": 2, "delay_ms": 25})",
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::LineServer server(sim::Scenario::Parse(R"({
      "model": "rvt2600",
      "ac": [{"channels": [{"a": 229.8, "b": 230.4, "c": 231.1, "f": 50.0}],
              "ia": 11.2, "ib": 10.8, "ic": 11.5}],
      "rc": {"group": 53.5, "modules": [{"analog": 19.8}]},
      "dc": [{"v": 53.5, "i": 118.7, "fuses": 64}],
      "faults": [)" + c.fault + "]}",
                                                "test scenario"));
    server.OpenPty();
    server.Start();
    const std::string config = Config("\"port\": \"" + server.Path() + "\", " + c.settings);
    const Result run =
        Zelhost("--config '" + config + "' --rounds 1 --trace --events '" + dir + "events.jsonl'");
    server.Stop();
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<std::string> logged;
    for (const Json::Value& e : Only(Events(dir + "events.jsonl"), "log"))
      if (e["text"].asString().rfind("zelhost: ", 0) == 0) logged.push_back(e["text"].asString());
    EXPECT_EQ(logged, c.logged) << run.err;
    EXPECT_EQ(Only(Events(dir + "events.jsonl"), "publish").size(), 3u);
  }
}

}  // namespace
