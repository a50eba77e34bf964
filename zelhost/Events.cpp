#include "Events.h"

#include <stdexcept>

#include "Bench.h"
#include "Decoder.h"
#include "ZelVDevice.h"

namespace zel {
namespace {

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

struct ValueNames {
  const char* typeSuffix;
  std::vector<const char*> names;
  bool channels;
};

// Device types by their ending: "rvt2600-ac" and the like.
const std::vector<ValueNames>& NameTable() {
  static const std::vector<ValueNames> table = {
      {"-ac", {"ia", "ib", "ic", "ia_alert", "ib_alert", "ic_alert"}, true},
      {"-dc", {"v", "i"}, false},
  };
  return table;
}

const ValueNames* NamesOf(const ZelVDevice& unit) {
  const std::string type = unit.DeviceType();
  for (const ValueNames& n : NameTable())
    if (EndsWith(type, n.typeSuffix)) return &n;
  return nullptr;
}

Answer Ask(const ZelVDevice& unit, const std::string& name) {
  try {
    return unit.Get_Value(unit.DataId(), name);
  } catch (const std::out_of_range& e) {
    return std::string(e.what());
  }
}

Json::Value Base(const char* event, unsigned int device) {
  Json::Value v(Json::objectValue);
  v["event"] = event;
  v["device"] = device;
  return v;
}

std::string Hex2(unsigned char b) {
  return ToHex(&b, 1);
}

}  // namespace

bool AnswersValues(const ZelVDevice& unit) {
  return NamesOf(unit) != nullptr;
}

Answers ReadValues(const ZelVDevice& unit) {
  Answers out;
  const ValueNames* names = NamesOf(unit);
  if (names == nullptr) return out;
  for (const char* name : names->names) out.emplace_back(name, Ask(unit, name));
  if (!names->channels) return out;
  // Channels up to the first whose first value does not come (out of range, or no data). The
  // queries count channels from 0; every output of the bench names them from 1, as the decoded
  // records and the alarm texts do: channel_1_a is the answer to "channel_0_a".
  for (unsigned k = 0;; ++k) {
    const std::string query = "channel_" + std::to_string(k) + "_";
    const std::string name = "channel_" + std::to_string(k + 1) + "_";
    Answer first = Ask(unit, query + "a");
    if (std::holds_alternative<std::string>(first)) break;
    out.emplace_back(name + "a", first);
    for (const char* field : {"b", "c", "f"})
      out.emplace_back(name + field, Ask(unit, query + field));
  }
  return out;
}

EventWriter::EventWriter(std::function<void(const std::string&)> sink) : sink_(std::move(sink)) {}

void EventWriter::Emit(const Json::Value& v) {
  const std::string line = JsonLine(v);
  std::lock_guard<std::mutex> lock(mutex_);
  sink_(line);
}

void EventWriter::Write(const Event& e) {
  switch (e.kind) {
    case Event::Kind::Request: {
      Json::Value v = Base("request", e.device);
      v["cid1"] = Hex2(e.cid1);
      v["cid2"] = Hex2(e.cid2);
      v["info"] = ToHex(e.bytes);
      Emit(v);
      return;
    }
    case Event::Kind::Publish: {
      Json::Value v = Base("publish", e.device);
      v["data_type"] = e.dataType;
      v["image"] = ToHex(e.bytes);
      std::string error;
      if (const auto decoded = Decode(e.dataType, e.bytes, error)) {
        v["fields"] = FieldsJson(*decoded);
      } else {
        v["fields_error"] = error;
      }
      Emit(v);
      return;
    }
    case Event::Kind::Rules: {
      Json::Value v = Base("rules", e.device);
      Json::Value& rules = v["rules"] = Json::Value(Json::arrayValue);
      for (const rule_value& r : e.rules) {
        Json::Value j(Json::objectValue);
        j["seq"] = r.seq;
        j["level"] = r.level;
        j["id"] = r.id;
        j["code"] = r.code;
        j["name"] = r.name;
        j["text"] = r.text;
        j["active"] = r.active != 0;
        rules.append(j);
      }
      Emit(v);
      return;
    }
    case Event::Kind::Alarm: {
      Json::Value v = Base("alarm", e.device);
      v["id"] = e.id;
      v["seq"] = e.seq;
      v["text"] = e.text;
      v["state"] = e.raised ? "raised" : "cleared";
      Emit(v);
      return;
    }
    case Event::Kind::Log: {
      Json::Value v = Base("log", e.device);
      v["text"] = e.text;
      Emit(v);
      return;
    }
    case Event::Kind::History:
    case Event::Kind::Reset:
      return;
  }
}

void EventWriter::Values(unsigned int device, const Answers& values) {
  Json::Value v = Base("values", device);
  Json::Value& out = v["values"] = Json::Value(Json::objectValue);
  for (const auto& [name, answer] : values) {
    if (const float* f = std::get_if<float>(&answer)) {
      out[name] = static_cast<double>(*f);
    } else {
      out[name] = std::get<std::string>(answer);
    }
  }
  Emit(v);
}

void EventWriter::Cache(unsigned int device, bool accepted) {
  Json::Value v = Base("cache", device);
  v["accepted"] = accepted;
  Emit(v);
}

void EventWriter::Round(unsigned int device, uint64_t round) {
  Json::Value v = Base("round", device);
  v["round"] = static_cast<Json::UInt64>(round);
  Emit(v);
}

void EventWriter::End(unsigned int device) {
  Emit(Base("end", device));
}

}  // namespace zel
