#pragma once

// Runs of the zelhost program in a temporary folder, for the program's tests.
#include <gtest/gtest.h>
#include <json/reader.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace zelhost_test {

struct Result {
  int status = -1;
  std::string err;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline std::vector<std::string> FileLines(const std::string& path) {
  std::vector<std::string> out;
  std::ifstream in(path);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

inline void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path) << text;
}

// The replies of the two-round fixture, without its comments.
inline std::vector<std::string> FixtureReplies() {
  std::vector<std::string> out;
  for (const std::string& l : FileLines(std::string(ZELHOST_DATA) + "/two_rounds.replay"))
    if (!l.empty() && l[0] != '#') out.push_back(l);
  return out;
}

class ZelhostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "zelhost_XXXXXX";
    ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
    dir = pattern + "/";
  }
  void TearDown() override {
    if (!HasFailure()) std::system(("rm -rf '" + dir + "'").c_str());
  }

  // A configuration with one power system: AC unit 11, DC unit 21, the rectifier unit.
  std::string Config(const std::string& extraSettings = "", const std::string& extraTop = "") {
    const std::string path = dir + "config.json";
    WriteFile(path, std::string("{\"plugin\": \"") + ZELHOST_PLUGIN + "\"," + extraTop +
                        "\"devices\": [{\"type\": \"rvt2600\", \"data_id\": 1, \"settings\": {" +
                        extraSettings +
                        "\"acSetting\": [{\"data_id\": 11}], \"dcSetting\": [{\"data_id\": 21}],"
                        "\"rcSetting\": {}}}]}");
    return path;
  }

  // `wrapper` runs the program under another, e.g. "timeout -s INT 2 ".
  Result Zelhost(const std::string& args, const std::string& wrapper = "") {
    const std::string cmd = wrapper + std::string(ZELHOST_PROGRAM) + " " + args + " > '" + dir +
                            "stdout' 2> '" + dir + "stderr'";
    const int raw = std::system(cmd.c_str());
    Result r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.err = ReadFile(dir + "stderr");
    return r;
  }

  // Runs the program (under the target's emulator in a cross build) and returns its exit status
  // and its peak resident memory in KiB (the emulator's, under emulation).
  std::pair<int, long> ZelhostPeak(const std::string& args) {
    const std::string cmd = std::string("exec ") + ZELHOST_PROGRAM + " " + args + " > '" + dir +
                            "stdout' 2> '" + dir + "stderr'";
    const pid_t child = fork();
    if (child == 0) {
      execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    int raw = 0;
    rusage use{};
    if (child < 0 || wait4(child, &raw, 0, &use) != child) return {-1, 0};
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, use.ru_maxrss};
  }

  // Runs a replay and returns its events.
  std::vector<Json::Value> Replay(const std::vector<std::string>& replies,
                                  const std::string& more = "") {
    std::string text;
    for (const auto& l : replies) text += l + "\n";
    WriteFile(dir + "replay.txt", text);
    const Result r = Zelhost("--config '" + Config() + "' --replay '" + dir +
                             "replay.txt' --events '" + dir + "events.jsonl' " + more);
    EXPECT_EQ(r.status, 0) << r.err;
    return Events(dir + "events.jsonl");
  }

  static std::vector<Json::Value> Events(const std::string& path) {
    std::vector<Json::Value> out;
    for (const std::string& line : FileLines(path)) {
      Json::Value v;
      std::istringstream in(line);
      Json::CharReaderBuilder b;
      std::string errors;
      EXPECT_TRUE(Json::parseFromStream(b, in, &v, &errors)) << line;
      out.push_back(v);
    }
    return out;
  }

  std::string dir;
};

inline std::vector<Json::Value> Only(const std::vector<Json::Value>& events,
                                     const std::string& kind) {
  std::vector<Json::Value> out;
  for (const auto& e : events)
    if (e["event"].asString() == kind) out.push_back(e);
  return out;
}
}  // namespace zelhost_test
