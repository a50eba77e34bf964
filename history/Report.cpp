#include "Report.h"

#include <json/value.h>
#include <json/writer.h>

#include <algorithm>
#include <boost/date_time/posix_time/posix_time.hpp>
#include <cmath>
#include <cstdio>
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

struct SessionReport::Unit {
  struct Column {
    ColumnStyle style;
    std::vector<float> values;  // NaN: no value
    size_t missing = 0;         // rounds the power system marked it not available
  };

  unsigned dataId = 0;
  unsigned dataType = 0;
  std::vector<int64_t> times;
  std::vector<std::string> layout;  // the field names of the last image
  std::vector<int> slots;           // per field of the layout: its column, or -1
  std::vector<Column> columns;
  std::map<std::string, size_t> columnOf;
  unsigned count = 0;  // channels or modules in the last image

  int ColumnFor(const std::string& name) {
    auto it = columnOf.find(name);
    if (it != columnOf.end()) return static_cast<int>(it->second);
    const auto style = Classify(dataType, name);
    if (!style) return -1;
    Column c;
    c.style = *style;
    c.values.assign(times.size(), kNaN);
    columns.push_back(std::move(c));
    columnOf[name] = columns.size() - 1;
    return static_cast<int>(columns.size() - 1);
  }

  // Typical time between rounds: the median step.
  int64_t Period() const {
    std::vector<int64_t> steps;
    for (size_t k = 1; k < times.size(); ++k) steps.push_back(times[k] - times[k - 1]);
    if (steps.empty()) return 0;
    std::nth_element(steps.begin(), steps.begin() + steps.size() / 2, steps.end());
    return steps[steps.size() / 2];
  }

  // Spans without a round for longer than kGapPeriods periods, as [last round, next round].
  std::vector<std::pair<int64_t, int64_t>> Gaps() const {
    std::vector<std::pair<int64_t, int64_t>> out;
    const int64_t limit = std::max<int64_t>(Period(), 1) * kGapPeriods;
    for (size_t k = 1; k < times.size(); ++k)
      if (times[k] - times[k - 1] > limit) out.emplace_back(times[k - 1], times[k]);
    return out;
  }

  Json::Value ToJson() const;
};

namespace {

// The rounds a page point stands for: [begin, end) of the unit's rounds.
struct Bucket {
  size_t begin;
  size_t end;
};

// One bucket per round, or with more than 2 * kColumns rounds one per equal span of time; a
// span without rounds gives no bucket.
std::vector<Bucket> Buckets(const std::vector<int64_t>& times) {
  std::vector<Bucket> out;
  const size_t n = times.size();
  if (n <= 2 * SessionReport::kColumns) {
    for (size_t k = 0; k < n; ++k) out.push_back({k, k + 1});
    return out;
  }
  const double first = static_cast<double>(times.front());
  const double span = std::max(1.0, static_cast<double>(times.back()) - first);
  size_t begin = 0;
  size_t index = 0;
  for (size_t k = 0; k < n; ++k) {
    const size_t b = std::min(SessionReport::kColumns - 1,
                              static_cast<size_t>((static_cast<double>(times[k]) - first) / span *
                                                  SessionReport::kColumns));
    if (k > 0 && b != index) {
      out.push_back({begin, k});
      begin = k;
    }
    index = b;
  }
  out.push_back({begin, n});
  return out;
}

}  // namespace

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
  u["rounds"] = static_cast<Json::UInt64>(times.size());
  u["first"] = static_cast<Json::Int64>(times.front());
  u["last"] = static_cast<Json::Int64>(times.back());
  u["period"] = static_cast<Json::Int64>(Period());
  Json::Value& gaps = u["gaps"] = Json::Value(Json::arrayValue);
  const auto gapList = Gaps();
  for (const auto& g : gapList) {
    Json::Value pair(Json::arrayValue);
    pair.append(static_cast<Json::Int64>(g.first));
    pair.append(static_cast<Json::Int64>(g.second));
    gaps.append(pair);
  }

  // Points: per bucket its first and last round (one for a bucket of one round), each series
  // with its smallest and largest value in the order they came; a point of nulls inside each
  // gap so that no line crosses it.
  const std::vector<Bucket> buckets = Buckets(times);
  size_t widest = 1;
  for (const Bucket& b : buckets) widest = std::max(widest, b.end - b.begin);
  u["thinned"] = static_cast<Json::UInt64>(widest > 1 ? widest : 0);
  std::vector<int64_t> xs;
  std::vector<std::vector<float>> ys(columns.size());
  auto gap = gapList.begin();
  for (const Bucket& b : buckets) {
    if (gap != gapList.end() && times[b.begin] >= gap->second) {
      xs.push_back((gap->first + gap->second) / 2);
      for (auto& y : ys) y.push_back(kNaN);
      ++gap;
    }
    const bool two = b.end - b.begin > 1;
    xs.push_back(times[b.begin]);
    if (two) xs.push_back(times[b.end - 1]);
    for (size_t c = 0; c < columns.size(); ++c) {
      const Column& col = columns[c];
      const std::vector<float>* values = &col.values;
      if (col.style.marks) {
        // A mark stands at the module's value, drawn once per bucket at most.
        const auto on = columnOf.find(col.style.markOn);
        float at = kNaN;
        for (size_t k = b.begin; k < b.end; ++k)
          if (!std::isnan(col.values[k]) && col.values[k] != 0) {
            at = on != columnOf.end() ? columns[on->second].values[k] : 0.0f;
            if (std::isnan(at)) at = 0.0f;
            break;
          }
        ys[c].push_back(at);
        if (two) ys[c].push_back(kNaN);
        continue;
      }
      size_t lo = b.end;
      size_t hi = b.end;
      for (size_t k = b.begin; k < b.end; ++k) {
        const float v = (*values)[k];
        if (std::isnan(v)) continue;
        if (lo == b.end || v < (*values)[lo]) lo = k;
        if (hi == b.end || v > (*values)[hi]) hi = k;
      }
      const float vlo = lo == b.end ? kNaN : (*values)[lo];
      const float vhi = hi == b.end ? kNaN : (*values)[hi];
      if (!two) {
        ys[c].push_back(vlo);
      } else if (lo <= hi) {
        ys[c].push_back(vlo);
        ys[c].push_back(vhi);
      } else {
        ys[c].push_back(vhi);
        ys[c].push_back(vlo);
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

void SessionReport::BeginImage(unsigned dataId, unsigned dataType, pt::ptime time,
                               size_t fieldCount) {
  auto& slot = units_[dataId];
  if (!slot) {
    slot = std::make_unique<Unit>();
    slot->dataId = dataId;
    slot->dataType = dataType;
  }
  current_ = slot.get();
  field_ = 0;
  ++images_;
  current_->times.push_back(Seconds(time));
  for (auto& c : current_->columns) c.values.push_back(kNaN);
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
  c.values.back() = v;
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
    if (unit->times.empty()) continue;
    roundFirst = std::min(roundFirst, unit->times.front());
    roundLast = std::max(roundLast, unit->times.back());
    rounds = std::max(rounds, unit->times.size());
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
