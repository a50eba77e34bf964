// zelhost on a serial line that goes away and comes back: the path is a symlink, as udev's
// /dev/serial/by-id/... are, and each new device appears behind it on a pty of its own.
#include <gtest/gtest.h>
#include <json/reader.h>
#include <json/writer.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "LineServer.h"
#include "Scenario.h"

namespace {

// The program running, its standard output (the events) and standard error (log and trace)
// read line by line as they come.
class Running {
 public:
  explicit Running(const std::string& command) {
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      dup2(err[1], STDERR_FILENO);
      for (int fd : {out[0], out[1], err[0], err[1]}) close(fd);
      const std::string exec = "exec " + command;  // so that a kill reaches the program
      execl("/bin/sh", "sh", "-c", exec.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    close(err[1]);
    fds_[0] = out[0];
    fds_[1] = err[0];
  }
  ~Running() {
    if (pid_ > 0 && status_ < 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    for (int fd : fds_)
      if (fd >= 0) close(fd);
  }

  // Reads until `done` holds or both streams end; false when it did not hold within the time.
  bool Until(const std::function<bool()>& done, std::chrono::seconds limit = kLimit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || (fds_[0] < 0 && fds_[1] < 0)) return false;
      pollfd p[2] = {{fds_[0], POLLIN, 0}, {fds_[1], POLLIN, 0}};
      if (poll(p, 2, static_cast<int>(left.count())) <= 0) continue;
      for (int k = 0; k < 2; ++k)
        if (p[k].revents != 0) ReadFrom(k);
    }
    return true;
  }

  // Waits for the program to end (its streams read to the end); its exit status.
  int Status() {
    Until([] { return false; });
    int raw = 0;
    if (status_ < 0 && waitpid(pid_, &raw, 0) == pid_)
      status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 256;
    return status_;
  }

  std::vector<Json::Value> events;
  std::vector<std::string> errors;

  static constexpr std::chrono::seconds kLimit{60};

 private:
  void ReadFrom(int k) {
    char buf[4096];
    const ssize_t n = read(fds_[k], buf, sizeof buf);
    if (n <= 0) {
      close(fds_[k]);
      fds_[k] = -1;
      return;
    }
    for (ssize_t i = 0; i < n; ++i) {
      if (buf[i] != '\n') {
        partial_[k].push_back(buf[i]);
        continue;
      }
      if (k == 1) {
        errors.push_back(partial_[k]);
      } else {
        Json::Value v;
        std::istringstream in(partial_[k]);
        Json::CharReaderBuilder b;
        std::string why;
        EXPECT_TRUE(Json::parseFromStream(b, in, &v, &why)) << partial_[k];
        events.push_back(v);
      }
      partial_[k].clear();
    }
  }

  pid_t pid_ = -1;
  int status_ = -1;
  int fds_[2] = {-1, -1};
  std::string partial_[2];
};

size_t Count(const std::vector<Json::Value>& events, const std::string& kind, unsigned device,
             const std::string& text = "") {
  size_t n = 0;
  for (const auto& e : events)
    if (e["event"].asString() == kind && e["device"].asUInt() == device &&
        (text.empty() || e["text"].asString() == text))
      ++n;
  return n;
}

size_t Count(const std::vector<std::string>& lines, const std::string& text) {
  size_t n = 0;
  for (const auto& l : lines) n += l == text ? 1 : 0;
  return n;
}

// A small site; faults: a JSON list of the damage done to its replies.
sim::Scenario Site(const std::string& faults) {
  return sim::Scenario::Parse(R"({
    "model": "rvt2600",
    "ac": [{"channels": [{"a": 229.8, "b": 230.4, "c": 231.1, "f": 50.0}],
            "ia": 11.2, "ib": 10.8, "ic": 11.5}],
    "rc": {"group": 53.5, "modules": [{"analog": 19.8}]},
    "dc": [{"v": 53.5, "i": 118.7, "fuses": 64}],
    "faults": )" + faults + "}",
                              "test scenario");
}

// A power system serving on a fresh pty, with the symlink moved onto it in one step.
std::unique_ptr<sim::LineServer> DeviceBehind(const std::string& link, const std::string& faults) {
  auto server = std::make_unique<sim::LineServer>(Site(faults));
  server->OpenPty();
  server->Start();
  const std::string next = link + ".next";
  std::remove(next.c_str());
  EXPECT_EQ(symlink(server->Path().c_str(), next.c_str()), 0);
  EXPECT_EQ(std::rename(next.c_str(), link.c_str()), 0);
  return server;
}

TEST(PortKeeper, ALineThatGoesAwayIsOpenedAgainAtItsPathAndTheRoundsResume) {
  std::string pattern = ::testing::TempDir() + "port_keeper_XXXXXX";
  ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
  const std::string dir = pattern + "/";
  const std::string link = dir + "tty";
  // Device 1 is not plugged in yet: its path leads nowhere.
  ASSERT_EQ(symlink((dir + "nothing").c_str(), link.c_str()), 0);
  // Device 2 stays on its line all along.
  sim::LineServer steady(Site("[]"));
  steady.OpenPty();
  steady.Start();

  Json::Value site;
  site["plugin"] = ZELHOST_PLUGIN;
  for (unsigned id : {1u, 2u}) {
    Json::Value& device = site["devices"][id - 1];
    device["type"] = "rvt2600";
    device["data_id"] = id;
    Json::Value& s = device["settings"];
    s["port"] = id == 1 ? link : steady.Path();
    s["reopen_ms"] = 5;
    s["acSetting"][0]["data_id"] = 10 + id;
    s["dcSetting"][0]["data_id"] = 20 + id;
    s["rcSetting"] = Json::Value(Json::objectValue);
  }
  // A request that the first device leaves unanswered is outstanding when it goes away.
  site["devices"][0]["settings"]["reply_timeout_ms"] = 60000;
  std::ofstream(dir + "site.json") << site.toStyledString();
  Running host(std::string(ZELHOST_PROGRAM) + " --config '" + dir +
               "site.json' --rounds 3 --events - --trace --record '" + dir + "session.replay'");

  const std::string tried = "[1] cannot open port " + link + ": No such file or directory";
  auto triedAgain = [&](size_t times) {
    return [&, times] { return Count(host.errors, tried) >= times; };
  };
  auto roundOf = [&](unsigned device, int round) {
    return [&, device, round] {
      for (const auto& e : host.events)
        if (e["event"] == "round" && e["device"].asUInt() == device && e["round"] == round)
          return true;
      return false;
    };
  };
  ASSERT_TRUE(host.Until(triedAgain(3)));
  // The other line goes on meanwhile.
  ASSERT_TRUE(host.Until(roundOf(2, 1)));
  EXPECT_EQ(Count(host.events, "round", 1), 0u);

  auto first = DeviceBehind(link, R"([{"round": 2, "step": "40_41", "kind": "silence"}])");
  ASSERT_TRUE(host.Until(roundOf(1, 1)));
  size_t requests = Count(host.events, "request", 1);
  ASSERT_TRUE(host.Until([&] { return Count(host.events, "request", 1) > requests; }));
  first.reset();  // unplugged with the request of round 2 waiting
  const size_t before = Count(host.errors, tried);
  ASSERT_TRUE(host.Until(triedAgain(before + 3)));
  auto second = DeviceBehind(link, "[]");
  ASSERT_EQ(host.Status(), 0);

  std::vector<std::string> logged;
  for (const auto& e : host.events)
    if (e["event"] == "log")
      logged.push_back(std::to_string(e["device"].asUInt()) + " " + e["text"].asString());
  ASSERT_EQ(logged.size(), 6u) << ::testing::PrintToString(logged);
  EXPECT_EQ(logged[0], "1 zelhost: cannot open port " + link + ": No such file or directory");
  EXPECT_EQ(logged[1], "1 zelhost: communication lost");
  EXPECT_EQ(logged[2], "1 zelhost: communication restored");
  EXPECT_EQ(logged[3].rfind("1 zelhost: port " + link + ": ", 0), 0u) << logged[3];  // EOF or EIO
  EXPECT_EQ(logged[4], "1 zelhost: communication lost");
  EXPECT_EQ(logged[5], "1 zelhost: communication restored");
  EXPECT_EQ(Count(host.events, "round", 1), 3u);
  EXPECT_GE(Count(host.events, "round", 2), 3u);

  // The request lost with the line is the one failure of the session.
  std::ifstream recording(dir + "session.replay");
  size_t timeouts = 0;
  for (std::string l; std::getline(recording, l);) timeouts += l == "timeout" ? 1 : 0;
  EXPECT_EQ(timeouts, 1u);

  steady.Stop();
  if (!HasFailure()) std::system(("rm -rf '" + dir + "'").c_str());
}

// Without "reopen_ms" a port that is not there is tried again every 5 s: a few seconds after
// the first try, no second one has been made.
TEST(PortKeeper, APortThatIsNotThereIsTriedAgainEveryFiveSecondsByDefault) {
  std::string pattern = ::testing::TempDir() + "port_keeper_XXXXXX";
  ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
  const std::string dir = pattern + "/";
  const std::string port = dir + "nothing";
  Json::Value site;
  site["plugin"] = ZELHOST_PLUGIN;
  Json::Value& device = site["devices"][0];
  device["type"] = "rvt2600";
  device["data_id"] = 1;
  device["settings"]["port"] = port;
  device["settings"]["acSetting"][0]["data_id"] = 11;
  device["settings"]["rcSetting"] = Json::Value(Json::objectValue);
  std::ofstream(dir + "site.json") << site.toStyledString();
  Running host(std::string(ZELHOST_PROGRAM) + " --config '" + dir +
               "site.json' --events - --trace");

  const std::string why = "cannot open port " + port + ": No such file or directory";
  ASSERT_TRUE(host.Until([&] { return Count(host.events, "log", 1, "zelhost: " + why) == 1; }));
  // Nothing ends this wait but the time: the tries the program makes meanwhile are traced.
  host.Until([] { return false; }, std::chrono::seconds(3));
  EXPECT_EQ(Count(host.errors, "[1] " + why), 0u) << ::testing::PrintToString(host.errors);
  if (!HasFailure()) std::system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace
