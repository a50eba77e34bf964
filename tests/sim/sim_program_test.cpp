// zelhost with "port": "sim:FILE": the simulator started inside the bench host on a pty pair.
// The first round follows the model reply at once, so one round takes only its frames and
// the plugin's pauses.
#include <gtest/gtest.h>
#include <json/reader.h>
#include <json/writer.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct HostRun {
  int status = -1;
  std::vector<Json::Value> events;
  std::string errors;
};

// zelhost for one round on a device whose port is `port`, with the JSON events read back.
HostRun RunZelhost(const std::string& port) {
  char dir[] = "/tmp/sim_program_testXXXXXX";
  EXPECT_NE(mkdtemp(dir), nullptr);
  const std::string config = std::string(dir) + "/site.json";
  const std::string errors = std::string(dir) + "/stderr.txt";
  Json::Value site;
  site["plugin"] = RVT_PLUGIN_PATH;
  Json::Value& device = site["devices"][0];
  device["type"] = "rvt2600";
  device["data_id"] = 100;
  device["settings"]["port"] = port;
  device["settings"]["acSetting"][0]["data_id"] = 101;
  device["settings"]["dcSetting"][0]["data_id"] = 102;
  device["settings"]["rcSetting"] = Json::Value(Json::objectValue);
  std::ofstream(config) << site.toStyledString();

  HostRun run;
  const std::string command = std::string(RVT_ZELHOST_COMMAND) + " --config " + config +
                              " --rounds 1 --events - 2>" + errors;
  FILE* out = popen(command.c_str(), "r");
  EXPECT_NE(out, nullptr);
  std::string line;
  for (int c; (c = std::fgetc(out)) != EOF;) {
    if (c != '\n') {
      line.push_back(static_cast<char>(c));
      continue;
    }
    Json::Value v;
    EXPECT_TRUE(Json::Reader().parse(line, v)) << line;
    run.events.push_back(v);
    line.clear();
  }
  const int status = pclose(out);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::stringstream text;
  text << std::ifstream(errors).rdbuf();
  run.errors = text.str();
  std::remove(config.c_str());
  std::remove(errors.c_str());
  rmdir(dir);
  return run;
}

TEST(SimProgram, SimPortServesTheScenarioInsideTheBenchHost) {
  const HostRun run = RunZelhost("sim:" RVT_SCENARIO_DIR "/default.json");
  ASSERT_EQ(run.status, 0) << run.errors;
  bool dcValues = false, round = false;
  for (const Json::Value& e : run.events) {
    if (e["event"] == "values" && e["device"] == 102) {
      dcValues = true;
      EXPECT_EQ(e["values"]["v"].asFloat(), 53.5f);
      EXPECT_EQ(e["values"]["i"].asFloat(), 118.7f);
    }
    if (e["event"] == "round") round = e["round"] == 1 && e["device"] == 100;
  }
  EXPECT_TRUE(dcValues);
  EXPECT_TRUE(round);
}

TEST(SimProgram, ScenarioThatDoesNotLoadIsAPortThatDoesNotOpen) {
  const HostRun run = RunZelhost("sim:/nonexistent/site.json");
  EXPECT_NE(run.status, 0);
  EXPECT_NE(run.errors.find("cannot open port sim:/nonexistent/site.json: simulator: "
                            "/nonexistent/site.json: cannot read the file"),
            std::string::npos)
      << run.errors;
}

}  // namespace
