// The bench program: loads the plugin, creates and configures its devices, drives them over
// serial lines or a replay file, and reports what they publish.
#include "Program.h"

#include <dlfcn.h>
#include <json/reader.h>
#include <unistd.h>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <set>
#include <sstream>

#include "Clock.h"
#include "Export.h"
#include "ReportFile.h"
#include "Scan.h"
#include "Session.h"
#include "SqliteHistory.h"
#include "Text.h"

namespace zel {
namespace {

using GetProviders = std::vector<std::shared_ptr<Provider>> (*)();

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

// Output for a program passed on as it is; for a terminal, line by line through ForTerminal.
class TerminalLines : public std::streambuf {
 public:
  explicit TerminalLines(std::ostream& to) : to_(to) {}
  ~TerminalLines() override { TerminalLines::sync(); }

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    line_.push_back(traits_type::to_char_type(c));
    if (line_.back() == '\n') sync();
    return c;
  }
  int sync() override {
    to_ << ForTerminal(line_) << std::flush;
    line_.clear();
    return 0;
  }

 private:
  std::ostream& to_;
  std::string line_;
};

// A history printed decoded, or its session report written; no configuration, plugin or port
// is needed.
int RunExport(const Options& options) {
  const std::string what = options.report.empty() ? "--export" : "--report";
  if (options.history.empty()) throw UserError(what + " needs the database: --history DB");
  HistoryRange range;
  range.dataId = options.dataId;
  try {
    if (!options.from.empty()) range.from = NormalTime(options.from);
    if (!options.to.empty()) range.to = NormalTime(options.to);
    if (options.report.empty() && isatty(STDOUT_FILENO)) {
      TerminalLines lines(std::cout);
      std::ostream out(&lines);
      Export(options.history, options.exportFormat, range, out);
    } else if (options.report.empty()) {
      Export(options.history, options.exportFormat, range, std::cout);
    } else {
      const ReportFigures f = WriteReport(options.history, range, options.report);
      std::cout << options.report << ": " << f.images << " images, " << f.alarms
                << " alarm events, " << (f.bytes + 1023) / 1024 << " KiB";
      if (f.undecoded) std::cout << "; " << f.undecoded << " images that do not decode left out";
      std::cout << "\n";
    }
  } catch (const std::exception& e) {
    throw UserError(e.what());
  }
  return 0;
}

}  // namespace

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

Session::~Session() {
  // The devices before the controller they log to; the plugin stays loaded for their code.
  devices_.clear();
  controller_.reset();
  if (events_ != nullptr && events_ != out_) std::fclose(events_);
  if (out_ != nullptr) std::fflush(out_);
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
  const Json::Value& keep = config_["keep_days"];
  if (!keep.isNull() && !(keep.isNumeric() && keep.asDouble() > 0))
    throw UserError("configuration " + options_.config +
                    ": \"keep_days\" is not a number of days above 0");
  if (options_.keepDays > 0) {
    keepDays_ = options_.keepDays;
  } else if (!keep.isNull()) {
    keepDays_ = keep.asDouble();
  }
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
    const bool terminal = isatty(fileno(f)) != 0;
    writer_ = std::make_unique<EventWriter>([f, terminal](const std::string& line) {
      std::fputs((terminal ? ForTerminal(line) : line).c_str(), f);
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
  // Without a database nothing reads the images back but the summary: keep only the newest,
  // so that a long replay does not grow in memory.
  if (historyPath_.empty()) {
    history_ = std::make_shared<MemoryHistory>(true);
    return;
  }
  try {
    auto history = std::make_shared<SqliteHistory>(historyPath_, keepDays_);
    // What the history holds as the session starts.
    if (!writer_) {
      const auto held = history->Held();
      std::string line = "history " + historyPath_ + ": ";
      line += held ? "rounds kept from " + held->first + " to " + held->second : "no rounds yet";
      if (keepDays_) {
        std::ostringstream days;
        days << *keepDays_;
        line += ", keeping the last " + days.str() + " days";
      }
      Out(line);
    }
    history_ = std::move(history);
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
  // The alarms the history shows active are active still: the controller does not raise them
  // again, and the summary lists them.
  for (const AlarmRecord& a : history_->LastAlarms())
    if (a.raised) activeAlarms_[std::make_tuple(a.device, a.ruleId, a.seq)] = a.text;

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
      // The simulator's scenario file counts from the configuration's folder, as every path.
      if (p.port.rfind("sim:", 0) == 0)
        p.port = "sim:" + FromConfig(options_.config, p.port.substr(4));
      const Json::Value& reopen = settings["reopen_ms"];
      if (!reopen.isNull() && !(reopen.isUInt() && reopen.asUInt() > 0))
        throw UserError(where + ": \"reopen_ms\" is not a number of milliseconds above 0");
      if (!reopen.isNull()) p.reopenMs = reopen.asUInt();
    }

    LineState& line = Line(*p.dev);
    const unsigned int id = p.id;
    if (options_.trace)
      line.trace = [id](const std::string& text) {
        std::fprintf(stderr, "[%u] %s\n", id, ForTerminal(text).c_str());
      };
    devices_.push_back(std::move(p));
    Polled& added = devices_.back();
    if (recorder_)
      line.outcome = [this, &added](const ReplyOutcome& o) {
        recorder_->Outcome(o, HostClock::Now(), added.dev->outstanding_ != 0);
      };
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

void Session::Finish() {
  controller_->Drain();
  history_->Commit();
  if (writer_)
    for (const Polled& p : devices_) writer_->End(p.id);
}

int Run(const Options& options) {
  if (!options.scanPorts.empty()) return RunScan(options);
  if (!options.exportFormat.empty() || !options.report.empty()) return RunExport(options);
  Session session(options);
  return session.Run();
}

}  // namespace zel
