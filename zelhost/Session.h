// What the bench program keeps of one session: the configured devices, the outputs and the
// plugin's controller. The drivers (serial lines, replay file) and the round report live in
// files of their own; Program.cpp holds the main flow.
#pragma once

#include <json/value.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "Controller.h"
#include "Events.h"
#include "History.h"
#include "Line.h"
#include "PMBusProtocol.h"
#include "PortKeeper.h"
#include "Program.h"
#include "Provider.h"
#include "Replay.h"

namespace zel {

// One configured device and what the program keeps of it.
struct Polled {
  unsigned int id = 0;
  std::string type;
  std::string port;
  std::shared_ptr<ZelSPDevice> owner;
  PMBusProtocol* dev = nullptr;
  uint64_t requestsSeen = 0;
  uint64_t roundsSeen = 0;
  LineCounters countersAtRound;
  // Serial lines only.
  unsigned reopenMs = kReopenMs;
  std::unique_ptr<PortKeeper> keeper;
  std::unique_ptr<boost::asio::steady_timer> replyTimer;
  std::unique_ptr<boost::asio::steady_timer> gapTimer;
  uint64_t replyGeneration = 0;
  uint64_t gapGeneration = 0;
};

class Session {
 public:
  explicit Session(const Options& options) : options_(options) {}
  ~Session();
  int Run();

 private:
  void Configure();
  void OpenOutputs();
  void LoadPlugin();
  void CreateDevices();
  void RestoreCache();
  void RunReplay();
  void RunLive();
  void Finish();

  void OnEvent(const Event& e);
  void AfterCall(Polled& p);
  void RoundEnded(Polled& p);
  void ReportValues(const std::vector<std::shared_ptr<ZelVDevice>>& units);
  void ReportStates(Polled& p);
  std::vector<std::shared_ptr<ZelVDevice>> ValueUnits(Polled& p);
  void Out(const std::string& line);
  bool RoundsReached() const;

  // Serial lines.
  void AfterLiveCall(Polled& p);
  void ArmReplyTimer(Polled& p);
  void ArmGapTimer(Polled& p);
  void Poll(boost::asio::steady_timer& timer);

  Options options_;
  Json::Value config_;
  std::string pluginPath_;
  std::string historyPath_;
  std::optional<double> keepDays_;

  FILE* out_ = nullptr;     // the program's own standard output
  FILE* events_ = nullptr;  // the event stream, when there is one
  std::unique_ptr<EventWriter> writer_;
  std::unique_ptr<std::ofstream> recordFile_;
  std::unique_ptr<Recorder> recorder_;

  std::vector<std::shared_ptr<Provider>> providers_;
  std::shared_ptr<HistoryStore> history_;
  std::shared_ptr<Controller> controller_;
  // The serial lines' loop outlives the devices, whose links and timers run on it.
  std::unique_ptr<boost::asio::io_context> io_;
  std::deque<Polled> devices_;

  // What the round's summary reports, gathered from events of the polling and worker threads.
  std::mutex reportMutex_;
  std::map<std::tuple<unsigned int, std::string, uint32_t>, std::string> activeAlarms_;
  std::map<std::pair<unsigned int, int>, std::vector<unsigned char>> published_;  // newest
  std::map<unsigned int, std::map<std::string, uint64_t>> protocolErrors_;        // since the round

  bool stop_ = false;
  bool interrupted_ = false;
};

}  // namespace zel
