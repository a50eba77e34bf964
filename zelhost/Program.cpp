// The bench program: loads the plugin, creates and configures its devices, drives them over
// serial lines or a replay file, and reports what they publish.
#include "Program.h"

#include <dlfcn.h>
#include <json/reader.h>
#include <unistd.h>

#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <tuple>
#include <vector>

#include "Clock.h"
#include "Controller.h"
#include "Events.h"
#include "Frame.h"
#include "Line.h"
#include "PMBusProtocol.h"
#include "Port.h"
#include "Provider.h"
#include "Replay.h"
#include "SqliteHistory.h"

namespace zel {
namespace {

using GetProviders = std::vector<std::shared_ptr<Provider>> (*)();

// RefreshStatus on the serial lines: often enough that a round never waits long for it; the
// device itself keeps its rounds 2 s apart.
constexpr auto kPollInterval = std::chrono::milliseconds(250);
// Replay passes in which no device sends anything before the replay is given up.
constexpr unsigned kIdlePassLimit = 100;

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Paths in the configuration count from the configuration's folder.
std::string FromConfig(const std::string& config, const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  return DirectoryOf(config) + path;
}

Json::Value ReadConfig(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw UserError("cannot read configuration " + path + ": " + std::strerror(errno));
  Json::CharReaderBuilder builder;
  builder["collectComments"] = false;
  Json::Value root;
  std::string errors;
  if (!Json::parseFromStream(builder, in, &root, &errors)) {
    // "* Line 3, Column 5\n  Missing ',' ...": one line
    std::string line;
    for (char c : errors) {
      if (c == '\n') {
        if (!line.empty() && line.back() != ' ') line += ' ';
      } else if (!(c == ' ' && (line.empty() || line.back() == ' '))) {
        line += c;
      }
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    if (line.rfind("* ", 0) == 0) line.erase(0, 2);
    throw UserError("configuration " + path + " is not valid JSON: " + line);
  }
  if (!root.isObject()) throw UserError("configuration " + path + " is not a JSON object");
  return root;
}

std::string OptionalString(const Json::Value& config, const char* key, const std::string& file) {
  const Json::Value& v = config[key];
  if (v.isNull()) return "";
  if (!v.isString()) throw UserError("configuration " + file + ": \"" + key + "\" is not a string");
  return v.asString();
}

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
  std::unique_ptr<boost::asio::steady_timer> replyTimer;
  std::unique_ptr<boost::asio::steady_timer> gapTimer;
  uint64_t replyGeneration = 0;
  uint64_t gapGeneration = 0;
};

std::string FaultSummary(const LineCounters& now, const LineCounters& before) {
  std::string out;
  for (size_t k = 0; k < kDropKinds; ++k) {
    const uint64_t n = now.drops[k] - before.drops[k];
    if (n == 0) continue;
    if (!out.empty()) out += ", ";
    out += std::string(DropText(static_cast<Drop>(k))) + " " + std::to_string(n);
  }
  return out.empty() ? "none" : out;
}

std::string AnswerText(const Answer& a) {
  if (const float* f = std::get_if<float>(&a)) {
    char s[32];
    std::snprintf(s, sizeof s, "%g", static_cast<double>(*f));
    return s;
  }
  return std::get<std::string>(a);
}

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

  std::mutex alarmMutex_;
  std::map<std::tuple<unsigned int, std::string, uint32_t>, std::string> activeAlarms_;

  std::string lineFailure_;
  bool stop_ = false;
  bool interrupted_ = false;
};

Session::~Session() {
  // The devices before the controller they log to; the plugin stays loaded for their code.
  devices_.clear();
  controller_.reset();
  if (events_ != nullptr && events_ != out_) std::fclose(events_);
  if (out_ != nullptr) std::fflush(out_);
}

void Session::Out(const std::string& line) {
  std::fputs(line.c_str(), out_);
  std::fputc('\n', out_);
  std::fflush(out_);
}

void Session::Configure() {
  if (options_.config.empty()) throw UserError("no configuration: name one with --config FILE");
  config_ = ReadConfig(options_.config);
  pluginPath_ =
      options_.plugin.empty()
          ? FromConfig(options_.config, OptionalString(config_, "plugin", options_.config))
          : options_.plugin;
  if (pluginPath_.empty())
    throw UserError("no plugin: name one with --plugin or \"plugin\" in " + options_.config);
  historyPath_ =
      options_.history.empty()
          ? FromConfig(options_.config, OptionalString(config_, "history", options_.config))
          : options_.history;
  const Json::Value& devices = config_["devices"];
  if (!devices.isArray() || devices.empty())
    throw UserError("configuration " + options_.config + ": \"devices\" is not a list of devices");
}

// The program's own output goes to the standard output it was started with; what the plugin
// prints there goes to standard error instead, so that an event stream on "-" stays clean.
void Session::OpenOutputs() {
  std::fflush(stdout);
  const int saved = dup(STDOUT_FILENO);
  if (saved < 0 || dup2(STDERR_FILENO, STDOUT_FILENO) < 0 || (out_ = fdopen(saved, "w")) == nullptr)
    throw UserError(std::string("cannot set up standard output: ") + std::strerror(errno));

  if (options_.events == "-") {
    events_ = out_;
  } else if (!options_.events.empty()) {
    events_ = std::fopen(options_.events.c_str(), "w");
    if (events_ == nullptr)
      throw UserError("cannot write events to " + options_.events + ": " + std::strerror(errno));
  }
  if (events_ != nullptr) {
    FILE* f = events_;
    writer_ = std::make_unique<EventWriter>([f](const std::string& line) {
      std::fputs(line.c_str(), f);
      std::fputc('\n', f);
      std::fflush(f);
    });
  }
  if (!options_.record.empty()) {
    recordFile_ = std::make_unique<std::ofstream>(options_.record);
    if (!*recordFile_)
      throw UserError("cannot write the recording " + options_.record + ": " +
                      std::strerror(errno));
    std::ofstream* f = recordFile_.get();
    recorder_ = std::make_unique<Recorder>([f](const std::string& line) {
      *f << line << '\n' << std::flush;
    });
    *f << "# zelhost recording, started " << boost::posix_time::to_simple_string(HostClock::Now())
       << '\n';
  }
  try {
    history_ = std::make_shared<SqliteHistory>(historyPath_.empty() ? ":memory:" : historyPath_);
  } catch (const std::exception& e) {
    throw UserError(e.what());
  }
}

void Session::LoadPlugin() {
  dlerror();
  void* handle = dlopen(pluginPath_.c_str(), RTLD_NOW);
  if (handle == nullptr) throw UserError("cannot load plugin " + pluginPath_ + ": " + dlerror());
  // The plugin stays loaded to the end: its devices' code lives in it.
  auto get = reinterpret_cast<GetProviders>(dlsym(handle, "get_providers"));
  if (get == nullptr) throw UserError("plugin " + pluginPath_ + " exports no get_providers");
  providers_ = get();
}

void Session::CreateDevices() {
  controller_ = std::make_shared<Controller>(Controller::Work::Thread, history_);
  controller_->SetListener([this](const Event& e) { OnEvent(e); });

  const Json::Value& list = config_["devices"];
  std::set<unsigned int> ids;
  for (Json::ArrayIndex k = 0; k < list.size(); ++k) {
    const Json::Value& entry = list[k];
    const std::string where = "device " + std::to_string(k + 1) + " of " + options_.config;
    if (!entry.isObject()) throw UserError(where + " is not an object");
    if (!entry["type"].isString()) throw UserError(where + ": \"type\" is not a string");
    if (!entry["data_id"].isUInt())
      throw UserError(where + ": \"data_id\" is not an unsigned number");
    const Json::Value& settings = entry["settings"];
    if (!settings.isNull() && !settings.isObject())
      throw UserError(where + ": \"settings\" is not an object");

    Polled p;
    p.id = entry["data_id"].asUInt();
    p.type = entry["type"].asString();
    if (!ids.insert(p.id).second)
      throw UserError(where + ": data id " + std::to_string(p.id) + " is used twice");

    std::string offered;
    for (const auto& provider : providers_) {
      auto* factory = dynamic_cast<ZelSPDeviceProvider*>(provider.get());
      if (factory == nullptr) continue;
      std::shared_ptr<ZelSPDevice> made(factory->create());
      if (!made) continue;
      if (made->IsSupportDevice(p.type)) {
        p.owner = made;
        break;
      }
      offered += (offered.empty() ? "" : ", ") + made->DeviceType();
    }
    if (!p.owner)
      throw UserError(where + ": unknown device type \"" + p.type + "\" (the plugin offers " +
                      (offered.empty() ? "none" : offered) + ")");
    p.dev = dynamic_cast<PMBusProtocol*>(p.owner.get());
    if (p.dev == nullptr)
      throw UserError(where + ": a \"" + p.type + "\" device is not polled on a line of its own");
    if (!p.dev->Init(controller_, p.id, settings))
      throw UserError(where + ": the \"" + p.type + "\" device refuses its settings");
    if (options_.replay.empty()) {
      if (!settings["port"].isString())
        throw UserError(where + ": no \"port\" in its settings (or run with --replay)");
      p.port = settings["port"].asString();
    }

    LineState& line = Line(*p.dev);
    const unsigned int id = p.id;
    if (options_.trace)
      line.trace = [id](const std::string& text) {
        std::fprintf(stderr, "[%u] %s\n", id, text.c_str());
      };
    devices_.push_back(std::move(p));
    Polled& added = devices_.back();
    if (recorder_)
      line.outcome = [this, &added](const ReplyOutcome& o) {
        recorder_->Outcome(o, HostClock::Now(), added.dev->outstanding_ != 0);
      };
  }
}

std::vector<std::shared_ptr<ZelVDevice>> Session::ValueUnits(Polled& p) {
  std::vector<std::shared_ptr<ZelVDevice>> out;
  for (const auto& child : p.dev->GetAllChildVDevices())
    if (child && AnswersValues(*child)) out.push_back(child);
  return out;
}

void Session::ReportValues(const std::vector<std::shared_ptr<ZelVDevice>>& units) {
  for (const auto& unit : units) {
    const Answers answers = ReadValues(*unit);
    if (writer_) {
      writer_->Values(unit->DataId(), answers);
      continue;
    }
    std::string line = "  " + unit->DeviceType() + " " + std::to_string(unit->DataId()) + ":";
    for (const auto& [name, answer] : answers) line += " " + name + "=" + AnswerText(answer);
    Out(line);
  }
}

// Each unit gets the newest saved image of its data id, before the first round.
void Session::RestoreCache() {
  bool any = false;
  for (Polled& p : devices_) {
    for (const auto& unit : p.dev->GetAllChildVDevices()) {
      if (!unit) continue;
      const auto image = history_->Newest(unit->DataId());
      if (!image) continue;
      const bool accepted = unit->LoadFromCache(std::string(image->begin(), image->end()));
      any = true;
      if (writer_) {
        writer_->Cache(unit->DataId(), accepted);
      } else {
        Out("cache: " + unit->DeviceType() + " " + std::to_string(unit->DataId()) +
            (accepted ? " restored" : " refused its saved image"));
      }
    }
  }
  if (!any) return;
  for (Polled& p : devices_) ReportValues(ValueUnits(p));
}

void Session::OnEvent(const Event& e) {
  if (e.kind == Event::Kind::Log) std::fprintf(stderr, "[%u] %s\n", e.device, e.text.c_str());
  if (e.kind == Event::Kind::Alarm) {
    std::lock_guard<std::mutex> lock(alarmMutex_);
    const auto key = std::make_tuple(e.device, e.id, e.seq);
    if (e.raised) {
      activeAlarms_[key] = e.text;
    } else {
      activeAlarms_.erase(key);
    }
  }
  if (writer_) writer_->Write(e);
}

bool Session::RoundsReached() const {
  if (options_.rounds == 0) return false;
  for (const Polled& p : devices_)
    if (Line(*p.dev).rounds < options_.rounds) return false;
  return true;
}

void Session::AfterCall(Polled& p) {
  if (Line(*p.dev).rounds != p.roundsSeen) RoundEnded(p);
  controller_->ClearJournal();  // the listener has written every event; a long run keeps none
}

void Session::RoundEnded(Polled& p) {
  const LineState& line = Line(*p.dev);
  p.roundsSeen = line.rounds;
  controller_->Drain();  // the round's rules are evaluated and its images saved
  const auto units = ValueUnits(p);
  if (writer_) {
    ReportValues(units);
    writer_->Round(p.id, line.rounds);
  } else {
    Out("round " + std::to_string(line.rounds) + " of " + p.type + " " + std::to_string(p.id) +
        " at " + boost::posix_time::to_simple_string(HostClock::Now()));
    ReportValues(units);
    std::set<unsigned int> family{p.id};
    for (const auto& unit : p.dev->GetAllChildVDevices())
      if (unit) family.insert(unit->DataId());
    std::string alarms;
    {
      std::lock_guard<std::mutex> lock(alarmMutex_);
      for (const auto& [key, text] : activeAlarms_) {
        if (family.count(std::get<0>(key)) == 0) continue;
        alarms += "\n    " + std::to_string(std::get<0>(key)) + " " + std::get<1>(key) + "/" +
                  std::to_string(std::get<2>(key)) + " " + text;
      }
    }
    Out("  alarms:" + (alarms.empty() ? std::string(" none") : alarms));
    Out("  faults: " + FaultSummary(line.counters, p.countersAtRound));
  }
  p.countersAtRound = line.counters;
  if (RoundsReached()) stop_ = true;
}

// The replay file answers every request in turn, on the virtual clock.
void Session::RunReplay() {
  std::ifstream in(options_.replay);
  if (!in) throw UserError("cannot read replay " + options_.replay + ": " + std::strerror(errno));
  std::vector<ReplayLine> lines;
  try {
    lines = ParseReplay(in);
  } catch (const ReplayError& e) {
    throw UserError("replay " + options_.replay + " " + e.what());
  }

  std::deque<Polled*> waiting;  // devices whose request waits for a line, oldest first
  // Work items run after each call, in order, so the events come in the same order every time.
  auto call = [&](Polled& p, const std::function<void()>& fn) {
    controller_->HoldWork(true);
    fn();
    controller_->Drain();
    AfterCall(p);
    if (p.dev->requestsSent_ != p.requestsSeen) {
      p.requestsSeen = p.dev->requestsSent_;
      if (p.dev->outstanding_) waiting.push_back(&p);
    }
  };

  for (Polled& p : devices_) p.dev->OpenPort();
  size_t next = 0;
  unsigned idlePasses = 0;
  bool first = true;
  while (!stop_) {
    if (waiting.empty()) {
      if (!first) HostClock::Advance(kReplayStepS);
      first = false;
      for (Polled& p : devices_)
        if (!p.dev->outstanding_) call(p, [&p] { p.dev->RefreshStatus(); });
      if (waiting.empty() && ++idlePasses > kIdlePassLimit)
        throw UserError("replay " + options_.replay + ": no device sends a request any more");
      continue;
    }
    idlePasses = 0;
    Polled& p = *waiting.front();
    waiting.pop_front();
    while (next < lines.size() && lines[next].kind == ReplayLine::Kind::Advance)
      HostClock::Advance(lines[next++].seconds);
    if (next == lines.size()) break;  // the file has run out
    const ReplayLine& line = lines[next++];
    if (line.kind == ReplayLine::Kind::Timeout) {
      call(p, [&p] { ReplyMissing(*p.dev); });
      continue;
    }
    framing::Frame reply;
    reply.ver = p.dev->protocolVersion_;
    reply.adr = p.dev->address_;
    reply.cid1 = line.cid1;
    reply.cid2 = 0;
    reply.info = line.info;
    std::string bytes = framing::Encode(reply);
    call(p, [&p, &bytes] {
      p.dev->process(reinterpret_cast<unsigned char*>(&bytes[0]),
                     static_cast<unsigned int>(bytes.size()));
    });
  }
}

void Session::ArmReplyTimer(Polled& p) {
  const uint64_t generation = ++p.replyGeneration;
  const unsigned ms =
      p.dev->replyTimeoutMs_ + LineTimeMs(Line(*p.dev).requestBytes, p.dev->baudRate_);
  p.replyTimer->expires_after(std::chrono::milliseconds(ms));
  p.replyTimer->async_wait([this, &p, generation](const boost::system::error_code& ec) {
    if (ec || generation != p.replyGeneration) return;
    ReplyMissing(*p.dev);
    AfterLiveCall(p);
  });
}

void Session::ArmGapTimer(Polled& p) {
  const uint64_t generation = ++p.gapGeneration;
  p.gapTimer->expires_after(std::chrono::milliseconds(p.dev->gapMs_));
  p.gapTimer->async_wait([this, &p, generation](const boost::system::error_code& ec) {
    if (ec || generation != p.gapGeneration) return;
    FrameGap(*p.dev);
    AfterLiveCall(p);
  });
}

// Timers follow the line: a new request starts the reply time, a started frame hands over to
// the gap time, a handled reply or a failure stops both.
void Session::AfterLiveCall(Polled& p) {
  AfterCall(p);
  const bool inFrame = Line(*p.dev).receiver.InFrame();
  if (p.dev->requestsSent_ != p.requestsSeen) {
    p.requestsSeen = p.dev->requestsSent_;
    ArmReplyTimer(p);
  }
  if (!p.dev->outstanding_ || inFrame) {
    ++p.replyGeneration;
    p.replyTimer->cancel();
  }
  if (inFrame) {
    ArmGapTimer(p);
  } else {
    ++p.gapGeneration;
    p.gapTimer->cancel();
  }
  if (stop_ && io_) io_->stop();
}

void Session::Poll(boost::asio::steady_timer& timer) {
  for (Polled& p : devices_) {
    if (p.dev->outstanding_) continue;
    p.dev->RefreshStatus();
    AfterLiveCall(p);
  }
  timer.expires_after(kPollInterval);
  timer.async_wait([this, &timer](const boost::system::error_code& ec) {
    if (!ec) Poll(timer);
  });
}

void Session::RunLive() {
  io_ = std::make_unique<boost::asio::io_context>();
  boost::asio::io_context& io = *io_;
  for (Polled& p : devices_) {
    LinkContext context{io, p.dev->baudRate_, {}, {}};
    Polled* polled = &p;
    context.receive = [this, polled](const unsigned char* data, size_t len) {
      std::vector<unsigned char> bytes(data, data + len);
      polled->dev->process(bytes.data(), static_cast<unsigned int>(bytes.size()));
      AfterLiveCall(*polled);
    };
    context.fail = [this, &io](const std::string& why) {
      if (lineFailure_.empty()) lineFailure_ = why;
      io.stop();
    };
    LinkResult opened = OpenLink(p.port, context);
    if (!opened.link)
      throw UserError("device " + std::to_string(p.id) + ": cannot open port " + p.port + ": " +
                      opened.error);
    p.dev->AttachLink(opened.link);
    p.dev->OpenPort();
    p.replyTimer = std::make_unique<boost::asio::steady_timer>(io);
    p.gapTimer = std::make_unique<boost::asio::steady_timer>(io);
  }

  boost::asio::signal_set signals(io, SIGINT, SIGTERM);
  signals.async_wait([this, &io](const boost::system::error_code& ec, int) {
    if (ec) return;
    interrupted_ = true;
    io.stop();
  });
  boost::asio::steady_timer poll(io);
  Poll(poll);
  if (!stop_) io.run();
  for (Polled& p : devices_) p.dev->ClosePort();
  if (!lineFailure_.empty()) throw UserError(lineFailure_);
}

void Session::Finish() {
  controller_->Drain();
  if (writer_)
    for (const Polled& p : devices_) writer_->End(p.id);
}

int Session::Run() {
  Configure();
  OpenOutputs();
  LoadPlugin();
  // The replay runs on the virtual clock from its first moment, cache loads included.
  if (!options_.replay.empty()) {
    HostClock::UseVirtual(kReplayStart);
  } else {
    HostClock::UseWallClock();
  }
  CreateDevices();
  RestoreCache();
  if (!options_.replay.empty()) {
    RunReplay();
  } else {
    RunLive();
  }
  Finish();
  if (interrupted_ && options_.rounds != 0 && !RoundsReached()) return 130;
  return 0;
}

}  // namespace

int Run(const Options& options) {
  Session session(options);
  return session.Run();
}

}  // namespace zel
