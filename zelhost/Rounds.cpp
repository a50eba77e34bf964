// What the program reports as the devices run: events as they come, and per round the units'
// values, the active alarms and the line's faults.
#include <boost/date_time/posix_time/posix_time.hpp>
#include <cstdio>
#include <set>

#include "Clock.h"
#include "Session.h"

namespace zel {
namespace {

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

}  // namespace

void Session::Out(const std::string& line) {
  std::fputs(line.c_str(), out_);
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
    std::string line = "  " + unit->DeviceType() + " " + std::to_string(unit->DataId()) + ":";
    for (const auto& [name, answer] : answers) line += " " + name + "=" + AnswerText(answer);
    Out(line);
  }
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
  // One commit for the round, on the worker after the round's saves.
  controller_->RunWork([history = history_] { history->Commit(); });
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

}  // namespace zel
