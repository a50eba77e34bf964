#include "Report.h"

#include <json/value.h>
#include <json/writer.h>

#include <algorithm>
#include <boost/date_time/posix_time/posix_time.hpp>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <optional>
#include <regex>
#include <stdexcept>
#include <tuple>

#include "ReportAssets.h"
#include "Text.h"

namespace zel {
namespace {

namespace pt = boost::posix_time;

constexpr unsigned kAcType = 5106;
constexpr unsigned kRcType = 5107;
constexpr unsigned kDcType = 5108;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// What the plugin stores where the power system marked a value not available.
enum class Missing { None, Zero, MinusTenth };

// Where one decoded field goes on the page.
struct ColumnStyle {
  std::string chart;  // key of the chart, in the order the charts are shown
  std::string chartTitle;
  std::string label;
  std::string scale;  // unit of the axis
  Missing missing = Missing::None;
  bool marks = false;  // drawn as marks where non-zero, at the value of `markOn`
  std::string markOn;
};

std::string Key(int order, const std::string& name) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%04d", order);
  return buf + name;
}

std::optional<ColumnStyle> Classify(unsigned dataType, const std::string& name) {
  static const std::regex channel("channel_(\\d+)_([abcf])");
  static const std::regex module("module_(\\d+)_(analog|fault)");
  std::smatch m;
  ColumnStyle c;
  if (dataType == kAcType) {
    if (name == "ia" || name == "ib" || name == "ic") {
      c.chart = Key(9999, "currents");
      c.chartTitle = "phase currents";
      c.label = name;
      c.scale = "A";
      c.missing = Missing::MinusTenth;
      return c;
    }
    if (!std::regex_match(name, m, channel)) return std::nullopt;
    const int k = std::stoi(m[1]);
    c.chart = Key(k, "channel" + m[1].str());
    c.chartTitle = "channel " + m[1].str() + ": voltages and frequency";
    c.label = m[2].str() == "f" ? "f" : "v" + m[2].str();
    c.scale = m[2].str() == "f" ? "Hz" : "V";
    c.missing = Missing::Zero;
    return c;
  }
  if (dataType == kRcType) {
    if (name == "group_analog") {
      c.chart = Key(0, "group");
      c.chartTitle = "group value";
      c.label = "group";
      return c;
    }
    if (!std::regex_match(name, m, module)) return std::nullopt;
    c.chart = Key(1, "modules");
    c.chartTitle = "module analog values, faults as marks";
    c.label = "module " + m[1].str();
    if (m[2].str() == "fault") {
      c.label += " fault";
      c.marks = true;
      c.markOn = "module_" + m[1].str() + "_analog";
    }
    return c;
  }
  if (dataType == kDcType && (name == "v" || name == "i")) {
    c.chart = Key(0, "output");
    c.chartTitle = "output voltage and current";
    c.label = name;
    c.scale = name == "v" ? "V" : "A";
    return c;
  }
  return std::nullopt;
}

bool IsMissing(Missing rule, float v) {
  switch (rule) {
    case Missing::Zero:
      return v == 0.0f;
    case Missing::MinusTenth:
      return v == -0.1f;
    case Missing::None:
      break;
  }
  return false;
}

int64_t Seconds(pt::ptime t) {
  static const pt::ptime epoch(boost::gregorian::date(1970, 1, 1));
  return (t - epoch).total_seconds();
}

const char* KindOf(unsigned dataType) {
  switch (dataType) {
    case kAcType:
      return "AC distribution";
    case kRcType:
      return "rectifier";
    case kDcType:
      return "DC distribution";
  }
  return "unknown";
}

Json::Value Number(float v) {
  return std::isnan(v) ? Json::Value() : Json::Value(static_cast<double>(v));
}

}  // namespace

// A unit's rounds as the page draws them, kept as they come: spans of rounds (one per round,
// or with more than 2 * kColumns rounds one per equal span of time between the first and the
// last round), each with the smallest and largest value of every column and where they came,
// the step histogram for the round period, and the steps long enough to be gaps. Nothing here
// grows with the number of rounds beyond 2 * kColumns.
struct SessionReport::Unit {
  struct Column {
    ColumnStyle style;
    size_t missing = 0;  // rounds the power system marked it not available
  };
  // One column within a span: its extremes with the rounds they came in, or for marks the value
  // of the first marked round.
  struct Cell {
    float lo = kNaN;
    float hi = kNaN;
    size_t loAt = 0;
    size_t hiAt = 0;
    bool marked = false;
    float mark = kNaN;
  };
  struct Span {
    size_t begin = 0;  // rounds [begin, end)
    size_t end = 0;
    int64_t first = 0;  // times of its first and last round
    int64_t last = 0;
    size_t index = 0;         // the span of time it falls in, when thinned
    std::vector<Cell> cells;  // per column; a column added later has none here
  };

  unsigned dataId = 0;
  unsigned dataType = 0;
  std::vector<std::string> layout;  // the field names of the last image
  std::vector<int> slots;           // per field of the layout: its column, or -1
  std::vector<Column> columns;
  std::map<std::string, size_t> columnOf;
  unsigned count = 0;  // channels or modules in the last image

  size_t rounds = 0;
  int64_t firstTime = 0;
  int64_t lastTime = 0;
  std::map<int64_t, size_t> steps;  // step between rounds, in seconds: how often
  int64_t smallestStep = 0;
  std::vector<std::pair<int64_t, int64_t>> longSteps;  // [round, next round] that may be gaps
  std::vector<Span> spans;
  std::optional<int64_t> thinTo;  // the last round's time, once known: spans are thinned

  // The round being read.
  bool pending = false;
  int64_t time = 0;
  std::vector<float> values;  // per column, NaN: no value

  int ColumnFor(const std::string& name) {
    auto it = columnOf.find(name);
    if (it != columnOf.end()) return static_cast<int>(it->second);
    const auto style = Classify(dataType, name);
    if (!style) return -1;
    Column c;
    c.style = *style;
    columns.push_back(std::move(c));
    values.push_back(kNaN);
    columnOf[name] = columns.size() - 1;
    return static_cast<int>(columns.size() - 1);
  }

  // Typical time between rounds: the median step.
  int64_t Period() const {
    size_t seen = 0;
    const size_t middle = (rounds > 0 ? rounds - 1 : 0) / 2;
    for (const auto& [step, n] : steps) {
      seen += n;
      if (seen > middle) return step;
    }
    return 0;
  }

  // Spans without a round for longer than kGapPeriods periods, as [last round, next round].
  std::vector<std::pair<int64_t, int64_t>> Gaps() const {
    std::vector<std::pair<int64_t, int64_t>> out;
    const int64_t limit = std::max<int64_t>(Period(), 1) * kGapPeriods;
    for (const auto& g : longSteps)
      if (g.second - g.first > limit) out.push_back(g);
    return out;
  }

  size_t IndexOf(int64_t t, int64_t last) const {
    const double first = static_cast<double>(firstTime);
    const double span = std::max(1.0, static_cast<double>(last) - first);
    const double at = std::max(0.0, (static_cast<double>(t) - first) / span * kColumns);
    return std::min(kColumns - 1, static_cast<size_t>(at));
  }

  // The spans thinned to one per span of time up to `last`; a span of time without rounds
  // gives none.
  static void Merge(Span& into, const Span& next) {
    into.end = next.end;
    into.last = next.last;
    if (into.cells.size() < next.cells.size()) into.cells.resize(next.cells.size());
    for (size_t c = 0; c < next.cells.size(); ++c) {
      Cell& a = into.cells[c];
      const Cell& b = next.cells[c];
      if (!std::isnan(b.lo) && (std::isnan(a.lo) || b.lo < a.lo)) {
        a.lo = b.lo;
        a.loAt = b.loAt;
      }
      if (!std::isnan(b.hi) && (std::isnan(a.hi) || b.hi > a.hi)) {
        a.hi = b.hi;
        a.hiAt = b.hiAt;
      }
      if (!a.marked && b.marked) {
        a.marked = true;
        a.mark = b.mark;
      }
    }
  }

  void Add(std::vector<Span>& to, Span span, int64_t last) const {
    span.index = IndexOf(span.first, last);
    if (!to.empty() && to.back().index == span.index) {
      Merge(to.back(), span);
    } else {
      to.push_back(std::move(span));
    }
  }

  std::vector<Span> Thinned(const std::vector<Span>& single, int64_t last) const {
    std::vector<Span> out;
    for (const Span& s : single) Add(out, s, last);
    return out;
  }

  // The round read so far goes into its span.
  void EndRound(const std::function<std::optional<int64_t>(unsigned)>& lastRound) {
    if (!pending) return;
    pending = false;
    Span s;
    s.begin = rounds;
    s.end = rounds + 1;
    s.first = s.last = time;
    s.cells.resize(columns.size());
    for (size_t c = 0; c < columns.size(); ++c) {
      const float v = values[c];
      if (std::isnan(v)) continue;
      Cell& cell = s.cells[c];
      if (columns[c].style.marks) {
        if (v == 0) continue;
        // A mark stands at the module's value.
        const auto on = columnOf.find(columns[c].style.markOn);
        const float at = on != columnOf.end() ? values[on->second] : 0.0f;
        cell.marked = true;
        cell.mark = std::isnan(at) ? 0.0f : at;
        continue;
      }
      cell.lo = cell.hi = v;
      cell.loAt = cell.hiAt = rounds;
    }
    std::fill(values.begin(), values.end(), kNaN);
    if (rounds == 0) {
      firstTime = time;
    } else {
      // A gap is a step longer than kGapPeriods median steps, so never one of kGapPeriods
      // smallest steps or less: those are not kept. A step kept while the smallest was larger
      // goes once a smaller one comes; one left out then (a session polled more slowly at its
      // start than later, by more than kGapPeriods times) would not be drawn as a gap.
      const int64_t step = time - lastTime;
      ++steps[step];
      const bool firstStep = rounds == 1;
      if (firstStep || step < smallestStep) {
        smallestStep = step;
        const int64_t limit = std::max<int64_t>(smallestStep, 1) * kGapPeriods;
        longSteps.erase(std::remove_if(longSteps.begin(), longSteps.end(),
                                       [limit](const std::pair<int64_t, int64_t>& g) {
                                         return g.second - g.first <= limit;
                                       }),
                        longSteps.end());
      }
      if (firstStep || step > std::max<int64_t>(smallestStep, 1) * kGapPeriods)
        longSteps.emplace_back(lastTime, time);
    }
    lastTime = time;
    ++rounds;
    if (thinTo) {
      Add(spans, std::move(s), *thinTo);
      return;
    }
    spans.push_back(std::move(s));
    if (rounds > 2 * kColumns && lastRound) {
      // From here on the spans of time: they need the time of the last round.
      if (const auto last = lastRound(dataId)) {
        thinTo = *last;
        spans = Thinned(spans, *thinTo);
      }
    }
  }

  Json::Value ToJson() const;
};

Json::Value SessionReport::Unit::ToJson() const {
  Json::Value u(Json::objectValue);
  u["data_id"] = dataId;
  u["type"] = dataType;
  u["kind"] = KindOf(dataType);
  unsigned members = 0;
  for (const Column& c : columns)
    if (c.style.label == "va" ||
        (dataType == kRcType && !c.style.marks && c.style.label != "group"))
      ++members;
  u["count"] = std::max(count, members);
  u["count_of"] = dataType == kAcType ? "channels" : dataType == kRcType ? "modules" : "";
  u["rounds"] = static_cast<Json::UInt64>(rounds);
  u["first"] = static_cast<Json::Int64>(firstTime);
  u["last"] = static_cast<Json::Int64>(lastTime);
  u["period"] = static_cast<Json::Int64>(Period());
  Json::Value& gaps = u["gaps"] = Json::Value(Json::arrayValue);
  const auto gapList = Gaps();
  for (const auto& g : gapList) {
    Json::Value pair(Json::arrayValue);
    pair.append(static_cast<Json::Int64>(g.first));
    pair.append(static_cast<Json::Int64>(g.second));
    gaps.append(pair);
  }

  // Points: per span its first and last round (one for a span of one round), each series
  // with its smallest and largest value in the order they came; a point of nulls inside each
  // gap so that no line crosses it.
  std::vector<Span> thinned;
  const std::vector<Span>* shown = &spans;
  if (!thinTo && rounds > 2 * kColumns) {
    thinned = Thinned(spans, lastTime);
    shown = &thinned;
  }
  size_t widest = 1;
  for (const Span& b : *shown) widest = std::max(widest, b.end - b.begin);
  u["thinned"] = static_cast<Json::UInt64>(widest > 1 ? widest : 0);
  std::vector<int64_t> xs;
  std::vector<std::vector<float>> ys(columns.size());
  auto gap = gapList.begin();
  for (const Span& b : *shown) {
    if (gap != gapList.end() && b.first >= gap->second) {
      xs.push_back((gap->first + gap->second) / 2);
      for (auto& y : ys) y.push_back(kNaN);
      ++gap;
    }
    const bool two = b.end - b.begin > 1;
    xs.push_back(b.first);
    if (two) xs.push_back(b.last);
    for (size_t c = 0; c < columns.size(); ++c) {
      const Cell cell = c < b.cells.size() ? b.cells[c] : Cell{};
      if (columns[c].style.marks) {
        ys[c].push_back(cell.marked ? cell.mark : kNaN);
        if (two) ys[c].push_back(kNaN);
        continue;
      }
      if (!two) {
        ys[c].push_back(cell.lo);
      } else if (std::isnan(cell.lo) || cell.loAt <= cell.hiAt) {
        ys[c].push_back(cell.lo);
        ys[c].push_back(cell.hi);
      } else {
        ys[c].push_back(cell.hi);
        ys[c].push_back(cell.lo);
      }
    }
  }

  Json::Value& x = u["x"] = Json::Value(Json::arrayValue);
  for (int64_t t : xs) x.append(static_cast<Json::Int64>(t));
  std::map<std::string, Json::Value> charts;
  for (size_t c = 0; c < columns.size(); ++c) {
    const Column& col = columns[c];
    Json::Value& chart = charts[col.style.chart];
    chart["id"] = std::to_string(dataId) + "-" + col.style.chart.substr(4);
    chart["title"] = col.style.chartTitle;
    Json::Value s(Json::objectValue);
    s["label"] = col.style.label;
    s["scale"] = col.style.scale;
    s["marks"] = col.style.marks;
    s["missing"] = static_cast<Json::UInt64>(col.missing);
    Json::Value& y = s["y"] = Json::Value(Json::arrayValue);
    for (float v : ys[c]) y.append(Number(v));
    chart["series"].append(s);
  }
  Json::Value& list = u["charts"] = Json::Value(Json::arrayValue);
  for (auto& entry : charts) list.append(entry.second);
  return u;
}

bool SessionReport::Draws(unsigned dataType, const std::string& name) {
  return Classify(dataType, name).has_value();
}

SessionReport::SessionReport() = default;
SessionReport::~SessionReport() = default;

void SessionReport::SetRange(pt::ptime from, pt::ptime to) {
  from_ = from;
  to_ = to;
}

void SessionReport::SetLastRound(std::function<std::optional<pt::ptime>(unsigned)> lastRound) {
  lastRound_ = [fn = std::move(lastRound)](unsigned dataId) -> std::optional<int64_t> {
    const auto t = fn(dataId);
    if (!t || t->is_special()) return std::nullopt;
    return Seconds(*t);
  };
}

void SessionReport::SetHeld(const std::string& first, const std::string& last) {
  heldFirst_ = first;
  heldLast_ = last;
}

void SessionReport::BeginImage(unsigned dataId, unsigned dataType, pt::ptime time,
                               size_t fieldCount) {
  auto& slot = units_[dataId];
  if (!slot) {
    slot = std::make_unique<Unit>();
    slot->dataId = dataId;
    slot->dataType = dataType;
  }
  current_ = slot.get();
  current_->EndRound(lastRound_);
  field_ = 0;
  ++images_;
  current_->pending = true;
  current_->time = Seconds(time);
  current_->layout.reserve(fieldCount);
  current_->count = 0;
}

void SessionReport::Value(const std::string& name, double value) {
  Unit& u = *current_;
  if (field_ >= u.layout.size() || u.layout[field_] != name) {
    // Another layout than the last image's (a unit with more channels): map it from here on.
    u.layout.resize(field_);
    u.slots.resize(field_);
    u.layout.push_back(name);
    u.slots.push_back(u.ColumnFor(name));
  }
  const int slot = u.slots[field_++];
  if (name == "channel_count" || name == "module_count") u.count = static_cast<unsigned>(value);
  if (slot < 0) return;
  Unit::Column& c = u.columns[static_cast<size_t>(slot)];
  const auto v = static_cast<float>(value);
  if (IsMissing(c.style.missing, v)) {
    ++c.missing;
    return;
  }
  u.values[static_cast<size_t>(slot)] = v;
}

void SessionReport::AddAlarm(const AlarmRecord& alarm) {
  pt::ptime t;
  try {
    t = pt::from_iso_extended_string(alarm.time);
  } catch (const std::exception&) {
    return;
  }
  if (t.is_special()) return;
  alarms_.push_back(alarm);
  alarmTimes_.push_back(Seconds(t));
}

}  // namespace zel

namespace zel {
namespace {

std::string Text(pt::ptime t) {
  return t.is_special() ? "" : pt::to_iso_extended_string(t);
}

// The rows of the alarm timeline: one per (device, rule id, sequence), in the order they first
// appear, each with its bars from raised to cleared (null: still active at the end).
Json::Value AlarmRows(const std::vector<AlarmRecord>& alarms, const std::vector<int64_t>& times,
                      int64_t start, size_t& raisedInRange) {
  Json::Value rows(Json::arrayValue);
  std::map<std::tuple<unsigned, std::string, unsigned>, Json::ArrayIndex> rowOf;
  std::map<Json::ArrayIndex, int64_t> openSince;
  for (size_t k = 0; k < alarms.size(); ++k) {
    const AlarmRecord& a = alarms[k];
    const int64_t at = times[k];
    const auto key = std::make_tuple(a.device, a.ruleId, a.seq);
    auto it = rowOf.find(key);
    if (it == rowOf.end()) {
      Json::Value row(Json::objectValue);
      row["device"] = a.device;
      row["rule_id"] = a.ruleId;
      row["seq"] = a.seq;
      row["bars"] = Json::Value(Json::arrayValue);
      rows.append(row);
      it = rowOf.emplace(key, rows.size() - 1).first;
    }
    Json::Value& row = rows[it->second];
    row["code"] = a.code;
    row["name"] = a.name;
    row["text"] = a.text;
    row["level"] = a.level;
    const int64_t t = std::max(at, start);
    if (at >= start && a.raised) ++raisedInRange;
    auto open = openSince.find(it->second);
    if (a.raised) {
      if (open == openSince.end()) openSince[it->second] = t;
    } else if (open != openSince.end()) {
      if (at >= start) {
        Json::Value bar(Json::arrayValue);
        bar.append(static_cast<Json::Int64>(open->second));
        bar.append(static_cast<Json::Int64>(t));
        row["bars"].append(bar);
      }
      openSince.erase(open);
    } else if (at >= start) {
      // Cleared in the range, raised before the history begins.
      Json::Value bar(Json::arrayValue);
      bar.append(static_cast<Json::Int64>(start));
      bar.append(static_cast<Json::Int64>(t));
      row["bars"].append(bar);
    }
  }
  for (const auto& [index, since] : openSince) {
    Json::Value bar(Json::arrayValue);
    bar.append(static_cast<Json::Int64>(since));
    bar.append(Json::Value());
    rows[index]["bars"].append(bar);
  }
  Json::Value shown(Json::arrayValue);
  for (const Json::Value& row : rows)
    if (!row["bars"].empty()) shown.append(row);
  return shown;
}

// Replaces each marker of the template, in order, by its text; the texts are not searched.
std::string Fill(const std::string& page,
                 const std::vector<std::pair<std::string, std::string>>& parts) {
  std::string out;
  size_t at = 0;
  for (const auto& [marker, text] : parts) {
    const size_t found = page.find(marker, at);
    if (found == std::string::npos) throw std::logic_error("report template: no " + marker);
    out.append(page, at, found - at);
    out += text;
    at = found + marker.size();
  }
  out.append(page, at, std::string::npos);
  return out;
}

}  // namespace

std::string SessionReport::Page() const {
  Json::Value s(Json::objectValue);
  s["from"] = Text(from_);
  s["to"] = Text(to_);
  int64_t first = std::numeric_limits<int64_t>::max();
  int64_t last = std::numeric_limits<int64_t>::min();
  int64_t roundFirst = std::numeric_limits<int64_t>::max();
  int64_t roundLast = std::numeric_limits<int64_t>::min();
  size_t rounds = 0;
  Json::Value& units = s["units"] = Json::Value(Json::arrayValue);
  for (const auto& [id, unit] : units_) {
    unit->EndRound(lastRound_);  // the unit's last round, still being read
    if (unit->rounds == 0) continue;
    roundFirst = std::min(roundFirst, unit->firstTime);
    roundLast = std::max(roundLast, unit->lastTime);
    rounds = std::max(rounds, unit->rounds);
    units.append(unit->ToJson());
  }
  const int64_t start = !from_.is_special() ? Seconds(from_)
                        : units.empty()     ? std::numeric_limits<int64_t>::min()
                                            : roundFirst;
  first = units.empty() ? first : roundFirst;
  last = units.empty() ? last : roundLast;
  size_t raised = 0;
  s["alarms"] = AlarmRows(alarms_, alarmTimes_, start, raised);
  for (int64_t at : alarmTimes_) {
    if (at < start) continue;
    first = std::min(first, at);
    last = std::max(last, at);
  }
  for (const Json::Value& row : s["alarms"])
    for (const Json::Value& bar : row["bars"]) first = std::min(first, bar[0].asInt64());
  s["rounds"] = static_cast<Json::UInt64>(rounds);
  s["alarms_raised"] = static_cast<Json::UInt64>(raised);
  s["undecoded"] = static_cast<Json::UInt64>(undecoded_);
  s["first_round"] = rounds ? Json::Value(static_cast<Json::Int64>(roundFirst)) : Json::Value();
  s["last_round"] = rounds ? Json::Value(static_cast<Json::Int64>(roundLast)) : Json::Value();
  // The time axis: the rounds, the alarm events of the range, and alarms active at its start.
  const bool any = first != std::numeric_limits<int64_t>::max();
  s["first"] = any ? Json::Value(static_cast<Json::Int64>(first)) : Json::Value();
  s["last"] = any ? Json::Value(static_cast<Json::Int64>(std::max(first, last))) : Json::Value();
  // What the history holds, whatever the range: its first and last round kept.
  s["held_first"] = heldFirst_;
  s["held_last"] = heldLast_;
  s["columns"] = static_cast<Json::UInt64>(kColumns);
  s["gap_periods"] = kGapPeriods;

  Json::StreamWriterBuilder w;
  w["indentation"] = "";
  w["emitUTF8"] = true;
  w["precision"] = 6;
  // Inside a script element "</" ends it and "<!--" starts to hide its end: no markup at all.
  const std::string json = ForScript(Json::writeString(w, s));
  auto text = [](const unsigned char* bytes) {
    return std::string(reinterpret_cast<const char*>(bytes));
  };
  return Fill(text(report::kPageHtml), {{"@UPLOT_CSS@", text(report::kUplotCss)},
                                        {"@REPORT_CSS@", text(report::kReportCss)},
                                        {"@SESSION@", json},
                                        {"@UPLOT_JS@", text(report::kUplotJs)},
                                        {"@REPORT_JS@", text(report::kReportJs)}});
}

}  // namespace zel
