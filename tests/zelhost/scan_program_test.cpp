// zelhost --scan over ptys, with the simulator serving on their other ends: a site at another
// speed and address found and its configuration run, two power systems on one bus, a port with
// nothing on it, ports that are missing, busy or no serial line, and usage errors.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <json/reader.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "LineServer.h"
#include "Scenario.h"
#include "ZelhostRun.h"

namespace {

using zelhost_test::ReadFile;
using zelhost_test::Result;

const std::string kData = ZELHOST_DATA;

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

Json::Value ParseJson(const std::string& text) {
  Json::Value v;
  Json::CharReaderBuilder b;
  std::string errors;
  std::istringstream in(text);
  EXPECT_TRUE(Json::parseFromStream(b, in, &v, &errors)) << errors << "\n" << text;
  return v;
}

std::vector<unsigned> DataIds(const Json::Value& list) {
  std::vector<unsigned> out;
  for (const Json::Value& unit : list) out.push_back(unit["data_id"].asUInt());
  return out;
}

class ScanProgramTest : public zelhost_test::ZelhostTest {
 protected:
  // The commands the power systems heard, as "40_51".
  void Listen(sim::LineServer& server) {
    server.SetTrace([this](const std::string& line) {
      if (line.rfind("<< ~", 0) != 0 || line.size() < 12) return;
      std::lock_guard<std::mutex> lock(mutex_);
      heard_.insert(line.substr(8, 2) + "_" + line.substr(10, 2));
    });
  }
  std::set<std::string> Heard() {
    std::lock_guard<std::mutex> lock(mutex_);
    return heard_;
  }
  std::string Out() { return ReadFile(dir + "stdout"); }

 private:
  std::mutex mutex_;
  std::set<std::string> heard_;
};

// Nothing but the model query and the read requests of a round reaches a power system.
const std::set<std::string> kReadOnly = {"40_51", "40_41", "40_43", "40_44", "41_41", "41_43",
                                         "41_44", "42_41", "42_44", "40_46", "42_46"};

// A site at address 7 and 19200 baud, scanned from 9600: heard as noise at 9600, found at
// 19200 with its units and counts; the configuration written runs two rounds with no count
// error.
TEST_F(ScanProgramTest, FindsASiteAtAnotherSpeedAndAddressAndItsConfigurationRuns) {
  sim::LineServer server(sim::Scenario::Load(kData + "/scan_site.json"));
  server.OpenPty();
  Listen(server);
  server.Start();
  const std::string config = dir + "site.json";
  const Result scan =
      Zelhost("--scan " + server.Path() + " --baud 9600,19200 --address 6-7 --write " + config);
  ASSERT_EQ(scan.status, 0) << scan.err;
  const std::string out = Out();
  EXPECT_TRUE(Has(out, "  speed            19200 baud\n  address          7\n")) << out;
  EXPECT_TRUE(Has(out, "  model            \"RVT2600\"\n")) << out;
  EXPECT_TRUE(Has(out,
                  "  AC units         2 (channels 3, 1)\n  DC units         2\n"
                  "  rectifier        4 modules\n"))
      << out;
  EXPECT_TRUE(Has(out, "    40_44 p  8          / 8\n")) << out;
  EXPECT_TRUE(Has(out, "  differences from the plugin: none\n")) << out;
  EXPECT_TRUE(Has(scan.err,
                  "at 9600 baud, address 7: a reply with bad CHKSUM: something answers "
                  "at another speed"))
      << scan.err;
  EXPECT_EQ(Heard().count("42_46"), 1u);  // the round was read to its end
  for (const std::string& cmd : Heard()) EXPECT_EQ(kReadOnly.count(cmd), 1u) << cmd;

  const Json::Value written = ParseJson(ReadFile(config));
  ASSERT_EQ(written["devices"].size(), 1u);
  const Json::Value& device = written["devices"][0];
  EXPECT_EQ(device["type"].asString(), "rvt2600");
  EXPECT_EQ(device["data_id"].asUInt(), 100u);
  const Json::Value& settings = device["settings"];
  EXPECT_EQ(settings["port"].asString(), server.Path());
  EXPECT_EQ(settings["baud"].asUInt(), 19200u);
  EXPECT_EQ(settings["address"].asUInt(), 7u);
  EXPECT_EQ(DataIds(settings["acSetting"]), (std::vector<unsigned>{101, 102}));
  EXPECT_EQ(DataIds(settings["dcSetting"]), (std::vector<unsigned>{151, 152}));
  EXPECT_TRUE(settings["rcSetting"].isObject());

  const Result run = Zelhost("--config " + config + " --rounds 2 --events " + dir + "events.jsonl");
  ASSERT_EQ(run.status, 0) << run.err;
  const auto events = Events(dir + "events.jsonl");
  EXPECT_EQ(zelhost_test::Only(events, "round").size(), 2u);
  for (const Json::Value& log : zelhost_test::Only(events, "log")) {
    EXPECT_FALSE(Has(log["text"].asString(), "ProcotolError")) << log["text"].asString();
    EXPECT_FALSE(Has(log["text"].asString(), "no reply")) << log["text"].asString();
  }
}

// Two power systems on one bus, at addresses 1 and 12: both found; the user-defined count of
// one that differs from the plugin's is reported with what the plugin will make of it.
TEST_F(ScanProgramTest, TwoPowerSystemsOnOneBus) {
  std::vector<sim::Scenario> sites;
  sites.push_back(sim::Scenario::Load(kData + "/scan_bus_1.json"));
  sites.push_back(sim::Scenario::Load(kData + "/scan_bus_12.json"));
  sim::LineServer server(std::move(sites));
  server.OpenPty();
  Listen(server);
  server.Start();
  const Result scan = Zelhost("--scan " + server.Path() + " --baud 9600 --address 1,11-12");
  ASSERT_EQ(scan.status, 0) << scan.err;
  const std::string out = Out();
  EXPECT_TRUE(Has(out, "power system 1 of 2\n  port             " + server.Path() +
                           "\n  speed            9600 baud\n  address          1\n"))
      << out;
  EXPECT_TRUE(Has(out, "power system 2 of 2\n  port             " + server.Path() +
                           "\n  speed            9600 baud\n  address          12\n"))
      << out;
  EXPECT_TRUE(Has(out, "    41_41 p  4, 2       / 4\n")) << out;
  EXPECT_TRUE(Has(out,
                  "  differences from the plugin:\n    41_41 p of module 2 is 2, the "
                  "plugin expects 4: the plugin logs a protocol error and skips the values\n"))
      << out;
  EXPECT_TRUE(
      Has(out, "  AC units         0\n  DC units         1\n  rectifier        3 modules\n"))
      << out;
  for (const std::string& cmd : Heard()) EXPECT_EQ(kReadOnly.count(cmd), 1u) << cmd;
}

// Nothing answers: the missing port, the file and the busy port are a line each, the scan goes
// on, and the empty port ends it with status 1 within the worst case it stated.
TEST_F(ScanProgramTest, NothingAnswers) {
  sim::LineServer quiet(sim::Scenario::Default());  // a pty with nobody answering
  quiet.OpenPty();
  sim::LineServer held(sim::Scenario::Default());
  held.OpenPty();
  const int lock = open(held.Path().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(lock, 0);
  ASSERT_EQ(flock(lock, LOCK_EX), 0);
  const std::string file = dir + "not-a-port";
  zelhost_test::WriteFile(file, "");

  const auto start = std::chrono::steady_clock::now();
  const Result scan =
      Zelhost("--scan " + dir + "gone " + file + " " + held.Path() + " " + quiet.Path() +
              " --baud 9600,19200 --address 1-3 --write " + dir + "none.json");
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
  close(lock);
  EXPECT_EQ(scan.status, 1) << scan.err;
  EXPECT_TRUE(Has(scan.err, dir + "gone: No such file or directory\n")) << scan.err;
  EXPECT_TRUE(Has(scan.err, file + ": not a serial line (not a character device)\n")) << scan.err;
  EXPECT_TRUE(Has(scan.err, held.Path() + ": busy: another program holds it\n")) << scan.err;
  EXPECT_TRUE(Has(scan.err, quiet.Path() + " at 19200 baud, addresses 1-3: at most")) << scan.err;
  EXPECT_TRUE(Has(scan.err, "scan: 0 power systems found\n")) << scan.err;
  EXPECT_EQ(Out(), "");
  EXPECT_EQ(access((dir + "none.json").c_str(), F_OK), -1);
  // The worst case of 4 ports of 2 speeds x 3 addresses, as stated; the program's own start,
  // under an emulator too, is allowed for.
  const size_t at = scan.err.find("at most ");
  ASSERT_NE(at, std::string::npos) << scan.err;
  const double stated = std::atof(scan.err.c_str() + at + 8);
  EXPECT_TRUE(Has(scan.err, "at most 4.3 s when nothing answers")) << scan.err;
  EXPECT_LT(took, static_cast<long>(stated * 1000) + 5000) << scan.err;
}

// Ctrl-C while the scan goes through the addresses after a find: the scan ends, the power
// system found is read and printed, and the status says it was found.
TEST_F(ScanProgramTest, InterruptedScanEndsWithWhatWasFound) {
  std::vector<sim::Scenario> sites;
  sites.push_back(sim::Scenario::Load(kData + "/scan_bus_1.json"));
  sim::LineServer server(std::move(sites));
  server.OpenPty();
  server.Start();
  // 254 addresses at 9600 baud take 50 s; SIGINT comes after 2.
  const Result scan = Zelhost("--scan " + server.Path() + " --baud 9600 --address 1-254",
                              "timeout --preserve-status -s INT 2 ");
  EXPECT_EQ(scan.status, 0) << scan.err;
  EXPECT_TRUE(Has(scan.err, "scan: 1 power system found before it was interrupted\n")) << scan.err;
  EXPECT_TRUE(Has(Out(), "  address          1\n  VER              20\n")) << Out();
  EXPECT_TRUE(Has(Out(), "  rectifier        2 modules\n")) << Out();
}

TEST_F(ScanProgramTest, UsageErrorsEndWithTwo) {
  for (const char* args : {"--scan /dev/null --baud 1234", "--scan /dev/null --address 0",
                           "--scan /dev/null --address 9-3", "--scan /dev/null --address 1,x",
                           "--scan", "--scan /dev/null --rounds x"}) {
    const Result r = Zelhost(args);
    EXPECT_EQ(r.status, 2) << args << "\n" << r.err;
    EXPECT_EQ(r.err.rfind("zelhost: ", 0), 0u) << args << "\n" << r.err;
  }
}

}  // namespace
