// What the program reports as the devices run: events as they come, and per round the units'
// values, the active alarms and the line's faults.
#include <algorithm>
#include <boost/date_time/posix_time/posix_time.hpp>
#include <cctype>
#include <cstdio>
#include <set>
#include <sstream>

#include "Clock.h"
#include "Decoder.h"
#include "Session.h"
#include "Text.h"

namespace zel {
namespace {

// The line's drops and the plugin's protocol errors of the round, by kind.
std::string FaultSummary(const LineCounters& now, const LineCounters& before,
                         const std::map<std::string, uint64_t>& protocol) {
  std::string out;
  auto add = [&out](const std::string& kind, uint64_t n) {
    out += (out.empty() ? "" : ", ") + kind + " " + std::to_string(n);
  };
  for (size_t k = 0; k < kDropKinds; ++k) {
    const uint64_t n = now.drops[k] - before.drops[k];
    if (n != 0) add(DropText(static_cast<Drop>(k)), n);
  }
  for (const auto& [command, n] : now.untaken) {
    const auto was = before.untaken.find(command);
    const uint64_t d = n - (was == before.untaken.end() ? 0 : was->second);
    if (d != 0) add("reply to " + command + " not taken", d);
  }
  for (const auto& [kind, n] : protocol) add("\"" + kind + "\"", n);
  return out.empty() ? "none" : out;
}

bool IsValue(const std::string& word) {
  size_t k = word[0] == 'P' ? 1 : 0;  // "P11 read 40_43 p is ...": the data id
  const size_t end = word.back() == ',' ? word.size() - 1 : word.size();
  if (k < end && word[k] == '-') ++k;
  if (k >= end) return false;
  for (; k < end; ++k)
    if (!std::isdigit(static_cast<unsigned char>(word[k]))) return false;
  return true;
}

// "PMBusPower:ProcotolError 1 read ac_number is 2, configured ac_number is 1" is of the kind
// "read ac_number is": its words after the data id up to the first value. Not one: "".
std::string ProtocolErrorKind(const std::string& line) {
  static const std::string kMark = "ProcotolError ";
  const size_t at = line.find(kMark);
  if (at == std::string::npos) return "";
  std::istringstream words(line.substr(at + kMark.size()));
  std::string kind;
  for (std::string w; words >> w;) {
    if (IsValue(w)) {
      if (kind.empty()) continue;
      break;
    }
    kind += (kind.empty() ? "" : " ") + w;
  }
  if (!kind.empty() && kind.back() == ',') kind.pop_back();
  return kind;
}

// Lines of at most kColumns: the head and as many items as fit, then the rest under it.
constexpr size_t kColumns = 80;

std::vector<std::string> Fold(const std::string& head, const std::vector<std::string>& items) {
  std::vector<std::string> lines{head};
  for (const std::string& item : items) {
    std::string& line = lines.back();
    if (line.size() + 1 + item.size() > kColumns && line.size() > 4) {
      lines.push_back("    " + item);
    } else {
      line += " " + item;
    }
  }
  return lines;
}

uint32_t Number(const Decoded& d, const std::string& name) {
  const FieldValue* v = d.Find(name);
  return v != nullptr && std::holds_alternative<uint32_t>(*v) ? std::get<uint32_t>(*v) : 0;
}

std::string Value(const Decoded& d, const std::string& name) {
  const FieldValue* v = d.Find(name);
  return v != nullptr ? Text(*v) : "?";
}

// The rectifier unit: group value, each module's value, and the modules whose fault state is
// not 0 (with it).
std::vector<std::string> RectifierItems(const Decoded& d) {
  std::vector<std::string> items{"group " + Value(d, "group_analog") + ",", "modules"};
  std::string faults;
  for (size_t k = 1; k <= d.repeats; ++k) {
    const std::string m = "module_" + std::to_string(k) + "_";
    items.push_back(Value(d, m + "analog") + (k == d.repeats ? "," : ""));
    if (const uint32_t fault = Number(d, m + "fault"))
      faults += " " + std::to_string(k) + "=" + std::to_string(fault);
  }
  if (d.repeats == 0) items.back() += " none,";
  items.push_back("fault" + (faults.empty() ? std::string(" none") : faults));
  return items;
}

// The DC unit's states: voltage state, fuses in fault (state 3), user alarm states set.
std::vector<std::string> DcStateItems(const Decoded& d) {
  const uint32_t v = Number(d, "v_state");
  std::vector<std::string> items{std::string("voltage ") +
                                 (v == 1   ? "low"
                                  : v == 2 ? "high"
                                           : "normal") +
                                 ","};
  auto list = [&](const char* title, const char* field, const char* count, uint32_t capacity,
                  bool fuse) {
    items.push_back(title);
    bool any = false;
    const uint32_t n = std::min(Number(d, count), capacity);
    for (uint32_t k = 1; k <= n; ++k) {
      const uint32_t state = Number(d, field + std::string("_") + std::to_string(k));
      if (fuse ? state != 3 : state == 0) continue;
      items.push_back(std::to_string(k) + (fuse ? "" : "=" + std::to_string(state)));
      any = true;
    }
    if (!any) items.back() += " none";
  };
  list("fuses in fault", "alert_m", "alert_m_count", 64, true);
  items.back() += ",";
  list("user alarms", "alert_p", "alert_p_count", 13, false);
  return items;
}

std::string AnswerText(const Answer& a) {
  if (const float* f = std::get_if<float>(&a)) {
    char s[32];
    std::snprintf(s, sizeof s, "%g", static_cast<double>(*f));
    return s;
  }
  return std::get<std::string>(a);
}

}  // namespace

// The summary carries the plugin's texts (the model alarm holds the device's model field).
void Session::Out(const std::string& line) {
  std::fputs(ForTerminal(line).c_str(), out_);
  std::fputc('\n', out_);
  std::fflush(out_);
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
    std::vector<std::string> items;
    for (const auto& [name, answer] : answers) items.push_back(name + "=" + AnswerText(answer));
    for (const std::string& line :
         Fold("  " + unit->DeviceType() + " " + std::to_string(unit->DataId()) + ":", items))
      Out(line);
  }
}

// The rectifier unit's and the DC units' newest images, decoded.
void Session::ReportStates(Polled& p) {
  for (const auto& unit : p.dev->GetAllChildVDevices()) {
    if (!unit) continue;
    for (const int type : {5107, 5108}) {
      std::vector<unsigned char> image;
      {
        std::lock_guard<std::mutex> lock(reportMutex_);
        const auto it = published_.find({unit->DataId(), type});
        if (it == published_.end()) continue;
        image = it->second;
      }
      const std::string head = "  " + unit->DeviceType() + " " + std::to_string(unit->DataId()) +
                               (type == 5108 ? " states:" : ":");
      std::string error;
      const auto d = Decode(type, image, error);
      for (const std::string& line :
           d ? Fold(head, type == 5107 ? RectifierItems(*d) : DcStateItems(*d))
             : std::vector<std::string>{head + " " + error})
        Out(line);
    }
  }
}

void Session::OnEvent(const Event& e) {
  if (e.kind == Event::Kind::Log) {
    std::fprintf(stderr, "[%u] %s\n", e.device, ForTerminal(e.text).c_str());
    const std::string kind = ProtocolErrorKind(e.text);
    if (!kind.empty()) {
      std::lock_guard<std::mutex> lock(reportMutex_);
      ++protocolErrors_[e.device][kind];
    }
  }
  if (e.kind == Event::Kind::Publish) {
    std::lock_guard<std::mutex> lock(reportMutex_);
    published_[{e.device, e.dataType}] = e.bytes;
  }
  if (e.kind == Event::Kind::Alarm) {
    std::lock_guard<std::mutex> lock(reportMutex_);
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
  // One commit for the round, on the worker after the round's saves.
  controller_->RunWork([history = history_] { history->Commit(); });
  const auto units = ValueUnits(p);
  std::set<unsigned int> family{p.id};
  for (const auto& unit : p.dev->GetAllChildVDevices())
    if (unit) family.insert(unit->DataId());
  std::string alarms;
  std::map<std::string, uint64_t> protocol;  // the round's protocol errors, by kind
  {
    std::lock_guard<std::mutex> lock(reportMutex_);
    for (const unsigned int id : family) {
      for (const auto& [kind, n] : protocolErrors_[id]) protocol[kind] += n;
      protocolErrors_.erase(id);
    }
    for (const auto& [key, text] : activeAlarms_) {
      if (family.count(std::get<0>(key)) == 0) continue;
      alarms += "\n    " + std::to_string(std::get<0>(key)) + " " + std::get<1>(key) + "/" +
                std::to_string(std::get<2>(key)) + " " + text;
    }
  }
  if (writer_) {
    ReportValues(units);
    writer_->Round(p.id, line.rounds);
  } else {
    Out("round " + std::to_string(line.rounds) + " of " + p.type + " " + std::to_string(p.id) +
        " at " + boost::posix_time::to_simple_string(HostClock::Now()));
    ReportValues(units);
    ReportStates(p);
    Out("  alarms:" + (alarms.empty() ? std::string(" none") : alarms));
    Out("  faults: " + FaultSummary(line.counters, p.countersAtRound, protocol));
  }
  p.countersAtRound = line.counters;
  if (RoundsReached()) stop_ = true;
}

}  // namespace zel
