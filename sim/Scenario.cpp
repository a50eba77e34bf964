#include "Scenario.h"

#include <json/reader.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "Encoder.h"

namespace sim {

extern const char* const kDefaultScenarioText;

namespace {

[[noreturn]] void Fail(const std::string& origin, const std::string& what) {
  throw ScenarioError(origin + ": " + what);
}

const struct {
  FaultKind kind;
  const char* name;
} kKinds[] = {
    {FaultKind::Count, "count"},     {FaultKind::Cut, "cut"},
    {FaultKind::Cid1, "cid1"},       {FaultKind::Rtn, "rtn"},
    {FaultKind::Adr, "adr"},         {FaultKind::BadChecksum, "bad_checksum"},
    {FaultKind::Drop, "drop"},       {FaultKind::Flip, "flip"},
    {FaultKind::Silence, "silence"}, {FaultKind::Chunks, "chunks"},
    {FaultKind::Hold, "hold"},
};

const uint16_t kCommands[] = {kModel,    kAcAnalog, kAcSwitch, kAcAlarm, kAcParam, kRcAnalog,
                              kRcSwitch, kRcAlarm,  kDcAnalog, kDcAlarm, kDcParam};

// Sets the member a path such as "dc/0/fuse_faults" names, creating objects on the way.
void SetPath(Json::Value& root, const std::string& path, const Json::Value& value,
             const std::string& where) {
  Json::Value* node = &root;
  std::stringstream parts(path);
  std::string seg;
  while (std::getline(parts, seg, '/')) {
    if (seg.empty()) Fail(where, "empty segment in \"" + path + "\"");
    const bool index =
        std::all_of(seg.begin(), seg.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (index && (node->isArray() || node->isNull())) {
      const auto k = static_cast<Json::ArrayIndex>(std::stoul(seg));
      if (node->isArray() && k > node->size()) Fail(where, "\"" + path + "\" skips array entries");
      node = &(*node)[k];
    } else if (node->isObject() || node->isNull()) {
      node = &(*node)[seg];
    } else {
      Fail(where, "\"" + path + "\" goes through a value that is neither object nor array");
    }
  }
  *node = value;
}

unsigned ReadUnsigned(const Json::Value& v, const std::string& where, unsigned max) {
  if (!v.isUInt() || v.asUInt() > max)
    Fail(where, "expected a whole number from 0 to " + std::to_string(max));
  return v.asUInt();
}

int ReadInt(const Json::Value& v, const std::string& where) {
  if (!v.isInt()) Fail(where, "expected a whole number");
  return v.asInt();
}

FaultSpec ReadFault(const Json::Value& j, const std::string& where) {
  if (!j.isObject()) Fail(where, "expected an object");
  for (const std::string& key : j.getMemberNames()) {
    static const char* const known[] = {"round", "step", "kind", "times", "field",   "value",
                                        "bytes", "at",   "mask", "size",  "delay_ms"};
    if (std::none_of(std::begin(known), std::end(known), [&](const char* k) { return key == k; }))
      Fail(where + "/" + key, "unknown key");
  }
  FaultSpec f;
  const std::string kind = j["kind"].asString();
  const auto k = std::find_if(std::begin(kKinds), std::end(kKinds),
                              [&](const auto& e) { return kind == e.name; });
  if (k == std::end(kKinds)) Fail(where + "/kind", "unknown fault kind \"" + kind + "\"");
  f.kind = k->kind;

  const std::string step = j["step"].asString();
  const auto c = std::find_if(std::begin(kCommands), std::end(kCommands),
                              [&](uint16_t cmd) { return StepName(cmd) == step; });
  if (c == std::end(kCommands)) Fail(where + "/step", "unknown step \"" + step + "\"");
  f.command = *c;

  if (!j["round"].isNull()) f.round = ReadUnsigned(j["round"], where + "/round", 1u << 30);
  if (!j["times"].isNull()) f.times = ReadUnsigned(j["times"], where + "/times", 1u << 30);
  switch (f.kind) {
    case FaultKind::Count:
      f.field = j["field"].asString();
      f.value = static_cast<int>(ReadUnsigned(j["value"], where + "/value", 255));
      break;
    case FaultKind::Cid1:
    case FaultKind::Rtn:
    case FaultKind::Adr:
      f.value = static_cast<int>(ReadUnsigned(j["value"], where + "/value", 255));
      break;
    case FaultKind::Cut:
    case FaultKind::Drop:
      f.value = j["bytes"].isNull()
                    ? 1
                    : static_cast<int>(ReadUnsigned(j["bytes"], where + "/bytes", 4096));
      if (f.value == 0) Fail(where + "/bytes", "at least one byte");
      break;
    case FaultKind::Chunks:
      if (!j["size"].isNull()) f.size = ReadUnsigned(j["size"], where + "/size", 4096);
      if (f.size == 0) Fail(where + "/size", "at least one byte");
      if (!j["delay_ms"].isNull())
        f.delayMs = ReadUnsigned(j["delay_ms"], where + "/delay_ms", 10000);
      break;
    case FaultKind::Hold:
      f.delayMs =
          j["delay_ms"].isNull() ? 1000 : ReadUnsigned(j["delay_ms"], where + "/delay_ms", 60000);
      break;
    default:
      break;
  }
  if (f.kind == FaultKind::Drop || f.kind == FaultKind::Flip) {
    if (!j["at"].isNull()) f.at = ReadInt(j["at"], where + "/at");
    if (!j["mask"].isNull())
      f.mask = static_cast<uint8_t>(ReadUnsigned(j["mask"], where + "/mask", 255));
    if (f.mask == 0) Fail(where + "/mask", "a mask of 0 changes nothing");
  }
  return f;
}

// {"seed": N, "drop_percent": X, "flip_percent": Y}, chances in percent of a reply frame.
LineNoise ReadNoise(const Json::Value& j, const std::string& where) {
  if (!j.isObject()) Fail(where, "expected an object");
  LineNoise noise;
  for (const std::string& key : j.getMemberNames()) {
    const Json::Value& v = j[key];
    if (key == "seed") {
      if (!v.isUInt64()) Fail(where + "/seed", "expected a whole number");
      noise.seed = v.asUInt64();
    } else if (key == "drop_percent" || key == "flip_percent") {
      if (!v.isNumeric() || v.asDouble() < 0 || v.asDouble() > 100)
        Fail(where + "/" + key, "expected a percentage from 0 to 100");
      (key == "drop_percent" ? noise.dropPercent : noise.flipPercent) = v.asDouble();
    } else {
      Fail(where + "/" + key, "unknown key");
    }
  }
  if (noise.dropPercent + noise.flipPercent > 100)
    Fail(where, "the chances add up to more than 100 percent");
  return noise;
}

}  // namespace

const char* FaultKindName(FaultKind kind) {
  for (const auto& k : kKinds)
    if (k.kind == kind) return k.name;
  return "?";
}

Scenario Scenario::Parse(const std::string& text, const std::string& origin) {
  Json::Value root;
  Json::CharReaderBuilder builder;
  builder["allowComments"] = false;
  builder["rejectDupKeys"] = true;
  std::string errors;
  std::istringstream in(text);
  if (!Json::parseFromStream(builder, in, &root, &errors)) Fail(origin, errors);
  if (!root.isObject()) Fail(origin, "expected a JSON object");

  Scenario s;
  s.name_ = root["name"].asString();

  // Changes, applied in round order on top of everything before them.
  struct Change {
    unsigned round;
    Json::Value set;
    std::string where;
  };
  std::vector<Change> changes;
  const Json::Value& list = root["changes"];
  if (!list.isNull() && !list.isArray()) Fail(origin, "changes: expected an array");
  for (Json::ArrayIndex k = 0; k < list.size(); ++k) {
    const std::string where = origin + ": changes/" + std::to_string(k);
    const Json::Value& c = list[k];
    if (!c.isObject() || !c["set"].isObject())
      Fail(where, "expected {\"round\": N, \"set\": {...}}");
    changes.push_back({ReadUnsigned(c["round"], where + "/round", 1u << 30), c["set"], where});
  }
  std::stable_sort(changes.begin(), changes.end(),
                   [](const Change& a, const Change& b) { return a.round < b.round; });

  if (!root["cycle"].isNull()) s.cycle_ = ReadUnsigned(root["cycle"], origin + ": cycle", 1u << 30);
  if (!root["line_noise"].isNull())
    s.noise_ = ReadNoise(root["line_noise"], origin + ": line_noise");
  if (!root["baud"].isNull()) {
    s.baud_ = ReadUnsigned(root["baud"], origin + ": baud", 115200);
    if (s.baud_ == 0) Fail(origin + ": baud", "expected a line speed above 0");
  }

  Json::Value site = root;
  site.removeMember("changes");
  site.removeMember("faults");
  site.removeMember("cycle");
  site.removeMember("line_noise");
  site.removeMember("baud");
  auto build = [&](const std::string& where) {
    try {
      return SiteFromJson(site);
    } catch (const ScenarioError& e) {
      Fail(where, e.what());
    }
  };
  s.sites_.emplace_back(0, build(origin));
  for (size_t k = 0; k < changes.size(); ++k) {
    for (const std::string& path : changes[k].set.getMemberNames()) {
      if (path == "changes" || path == "faults" || path.rfind("changes/", 0) == 0 ||
          path.rfind("faults/", 0) == 0)
        Fail(changes[k].where, "a change cannot touch \"" + path + "\"");
      SetPath(site, path, changes[k].set[path], changes[k].where);
    }
    if (k + 1 == changes.size() || changes[k + 1].round != changes[k].round) {
      if (s.sites_.back().first == changes[k].round)
        s.sites_.back().second = build(changes[k].where);
      else
        s.sites_.emplace_back(changes[k].round, build(changes[k].where));
    }
  }

  const Json::Value& faults = root["faults"];
  if (!faults.isNull() && !faults.isArray()) Fail(origin, "faults: expected an array");
  for (Json::ArrayIndex k = 0; k < faults.size(); ++k) {
    const std::string where = origin + ": faults/" + std::to_string(k);
    FaultSpec f = ReadFault(faults[k], where);
    if (f.kind == FaultKind::Count) {
      // The count byte must exist in the reply of the round it is meant for.
      Info info;
      EncodeInfo(s.SiteAt(f.round.value_or(0)), f.command, Flags{}, info);
      if (info.counts.count(f.field) == 0)
        Fail(where + "/field",
             "the " + StepName(f.command) + " reply has no count \"" + f.field + "\"");
    }
    s.faults_.push_back(f);
  }
  return s;
}

Scenario Scenario::Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ScenarioError(path + ": cannot read the file");
  std::stringstream text;
  text << in.rdbuf();
  return Parse(text.str(), path);
}

Scenario Scenario::Default() {
  return Parse(kDefaultScenarioText, "default scenario");
}

unsigned Scenario::Phase(unsigned round) const {
  if (cycle_ == 0 || round <= cycle_) return round;
  return (round - 1) % cycle_ + 1;
}

const Site& Scenario::SiteAt(unsigned round) const {
  const unsigned phase = Phase(round);
  const auto* best = &sites_.front();
  for (const auto& entry : sites_)
    if (entry.first <= phase) best = &entry;
  return best->second;
}

}  // namespace sim
