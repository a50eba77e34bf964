#include "Site.h"

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <limits>

namespace sim {

Word Word::Float(float value) {
  uint32_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  Word w;
  for (int k = 0; k < 4; ++k) w.bytes[k] = static_cast<uint8_t>(bits >> (8 * k));
  return w;
}

Word Word::NotAvailable(uint8_t fill) {
  Word w;
  w.bytes.fill(fill);
  return w;
}

namespace {

[[noreturn]] void Fail(const std::string& path, const std::string& what) {
  throw ScenarioError((path.empty() ? std::string("scenario") : path) + ": " + what);
}

std::string Join(const std::string& path, const std::string& key) {
  return path.empty() ? key : path + "/" + key;
}
std::string Join(const std::string& path, Json::ArrayIndex k) {
  return Join(path, std::to_string(k));
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Hex text ("A1B2", no separators) to bytes.
bool ParseHex(const std::string& text, std::vector<uint8_t>& out) {
  if (text.size() % 2 != 0) return false;
  out.clear();
  for (size_t k = 0; k < text.size(); k += 2) {
    const int hi = HexDigit(text[k]);
    const int lo = HexDigit(text[k + 1]);
    if (hi < 0 || lo < 0) return false;
    out.push_back(static_cast<uint8_t>(hi << 4 | lo));
  }
  return true;
}

void CheckKeys(const Json::Value& v, const std::string& path,
               std::initializer_list<const char*> allowed) {
  if (v.isNull()) return;
  if (!v.isObject()) Fail(path, "expected an object");
  for (const std::string& key : v.getMemberNames()) {
    bool known = false;
    for (const char* a : allowed) known = known || key == a;
    if (!known) Fail(Join(path, key), "unknown key");
  }
}

// A byte: a number 0..255 or a "0x" hex string; null counts as 0.
uint8_t ParseByte(const Json::Value& v, const std::string& path) {
  if (v.isNull()) return 0;
  if (v.isString()) {
    const std::string s = v.asString();
    std::vector<uint8_t> b;
    if (s.size() == 4 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X') && ParseHex(s.substr(2), b))
      return b[0];
    Fail(path, "expected a byte, got \"" + s + "\"");
  }
  if (v.isUInt() && v.asUInt() <= 0xFF) return static_cast<uint8_t>(v.asUInt());
  Fail(path, "expected a byte (0 to 255 or \"0xNN\")");
}

// A value group: a number (a float), "na" or "na:NN" (the not-available marker filled with
// 0x20 or NN) or "raw:HHHHHHHH" (four bytes in line order).
Word ParseWord(const Json::Value& v, const std::string& path) {
  if (v.isNull()) return Word{};
  if (v.isNumeric()) {
    const double d = v.asDouble();
    if (std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max())
      Fail(path, "value out of float range");
    return Word::Float(static_cast<float>(d));
  }
  if (v.isString()) {
    const std::string s = v.asString();
    std::vector<uint8_t> b;
    if (s == "na") return Word::NotAvailable();
    if (s.rfind("na:", 0) == 0 && ParseHex(s.substr(3), b) && b.size() == 1 && b[0] != 0)
      return Word::NotAvailable(b[0]);
    if (s.rfind("raw:", 0) == 0 && ParseHex(s.substr(4), b) && b.size() == 4) {
      Word w;
      for (int k = 0; k < 4; ++k) w.bytes[k] = b[k];
      return w;
    }
    Fail(path, "expected a number, \"na\", \"na:NN\" or \"raw:HHHHHHHH\", got \"" + s + "\"");
  }
  Fail(path, "expected a value");
}

void RequireArray(const Json::Value& v, const std::string& path) {
  if (!v.isArray()) Fail(path, "expected an array");
  if (v.size() > 255) Fail(path, "more than 255 entries: a count byte cannot say so");
}

// An array of bytes; absent keeps the default.
void ReadBytes(const Json::Value& v, const std::string& path, std::vector<uint8_t>& out) {
  if (v.isNull()) return;
  RequireArray(v, path);
  out.clear();
  for (Json::ArrayIndex k = 0; k < v.size(); ++k) out.push_back(ParseByte(v[k], Join(path, k)));
}

// A fixed set of bytes: shorter arrays are filled with zeros.
template <size_t N>
void ReadFixedBytes(const Json::Value& v, const std::string& path, std::array<uint8_t, N>& out) {
  if (v.isNull()) return;
  RequireArray(v, path);
  if (v.size() > N) Fail(path, "at most " + std::to_string(N) + " entries");
  out.fill(0);
  for (Json::ArrayIndex k = 0; k < v.size(); ++k) out[k] = ParseByte(v[k], Join(path, k));
}

void ReadWords(const Json::Value& v, const std::string& path, std::vector<Word>& out) {
  if (v.isNull()) return;
  RequireArray(v, path);
  out.clear();
  for (Json::ArrayIndex k = 0; k < v.size(); ++k) out.push_back(ParseWord(v[k], Join(path, k)));
}

template <size_t N>
void ReadFixedWords(const Json::Value& v, const std::string& path, std::array<Word, N>& out) {
  if (v.isNull()) return;
  RequireArray(v, path);
  if (v.size() > N) Fail(path, "at most " + std::to_string(N) + " entries");
  out.fill(Word{});
  for (Json::ArrayIndex k = 0; k < v.size(); ++k) out[k] = ParseWord(v[k], Join(path, k));
}

// Each element of an array of objects, through fn(element, path).
template <typename T, typename Fn>
void ReadList(const Json::Value& v, const std::string& path, std::vector<T>& out, Fn fn) {
  if (v.isNull()) return;
  RequireArray(v, path);
  out.clear();
  for (Json::ArrayIndex k = 0; k < v.size(); ++k) {
    out.emplace_back();
    fn(v[k], Join(path, k), out.back());
  }
}

FlagSetting ReadFlag(const Json::Value& v, const std::string& path) {
  FlagSetting f;
  if (v.isNull() || (v.isString() && v.asString() == "auto")) return f;
  f.automatic = false;
  f.value = ParseByte(v, path);
  return f;
}

void ReadChannel(const Json::Value& j, const std::string& path, AcChannel& ch) {
  CheckKeys(j, path, {"a", "b", "c", "f", "user_values", "alerts", "alarm_extra", "user_alerts"});
  ch.a = ParseWord(j["a"], Join(path, "a"));
  ch.b = ParseWord(j["b"], Join(path, "b"));
  ch.c = ParseWord(j["c"], Join(path, "c"));
  ch.f = ParseWord(j["f"], Join(path, "f"));
  ReadWords(j["user_values"], Join(path, "user_values"), ch.userValues);
  ReadFixedBytes(j["alerts"], Join(path, "alerts"), ch.alerts);
  ReadBytes(j["alarm_extra"], Join(path, "alarm_extra"), ch.alarmExtra);
  ReadBytes(j["user_alerts"], Join(path, "user_alerts"), ch.userAlerts);
}

void ReadAcUnit(const Json::Value& j, const std::string& path, AcUnit& u) {
  CheckKeys(j, path, {"channels", "ia", "ib", "ic", "alerts", "airlocks", "switches"});
  ReadList(j["channels"], Join(path, "channels"), u.channels, ReadChannel);
  u.ia = ParseWord(j["ia"], Join(path, "ia"));
  u.ib = ParseWord(j["ib"], Join(path, "ib"));
  u.ic = ParseWord(j["ic"], Join(path, "ic"));
  ReadFixedBytes(j["alerts"], Join(path, "alerts"), u.alerts);
  ReadBytes(j["airlocks"], Join(path, "airlocks"), u.airlocks);
  ReadBytes(j["switches"], Join(path, "switches"), u.switches);
}

void ReadModule(const Json::Value& j, const std::string& path, RcModule& m) {
  CheckKeys(j, path, {"analog", "user_values", "states", "user_states", "fault", "user_alarms"});
  m.analog = ParseWord(j["analog"], Join(path, "analog"));
  ReadWords(j["user_values"], Join(path, "user_values"), m.userValues);
  ReadFixedBytes(j["states"], Join(path, "states"), m.states);
  ReadBytes(j["user_states"], Join(path, "user_states"), m.userStates);
  m.fault = ParseByte(j["fault"], Join(path, "fault"));
  ReadBytes(j["user_alarms"], Join(path, "user_alarms"), m.userAlarms);
}

void ReadDcUnit(const Json::Value& j, const std::string& path, DcUnit& u) {
  CheckKeys(j, path, {"v", "i", "m", "n", "p", "v_state", "fuses", "fuse_faults", "user_alarms"});
  u.v = ParseWord(j["v"], Join(path, "v"));
  u.i = ParseWord(j["i"], Join(path, "i"));
  ReadWords(j["m"], Join(path, "m"), u.m);
  ReadWords(j["n"], Join(path, "n"), u.n);
  ReadWords(j["p"], Join(path, "p"), u.p);
  u.vState = ParseByte(j["v_state"], Join(path, "v_state"));
  const Json::Value& fuses = j["fuses"];
  if (fuses.isUInt()) {
    if (fuses.asUInt() > 255) Fail(Join(path, "fuses"), "more than 255 fuses");
    u.fuses.assign(fuses.asUInt(), 0);
  } else {
    ReadBytes(fuses, Join(path, "fuses"), u.fuses);
  }
  // Fuses in fault, numbered from 1 as the alarm texts number them.
  const Json::Value& faults = j["fuse_faults"];
  if (!faults.isNull()) {
    RequireArray(faults, Join(path, "fuse_faults"));
    for (Json::ArrayIndex k = 0; k < faults.size(); ++k) {
      const Json::Value& n = faults[k];
      if (!n.isUInt() || n.asUInt() < 1 || n.asUInt() > u.fuses.size())
        Fail(Join(Join(path, "fuse_faults"), k),
             "expected a fuse number from 1 to " + std::to_string(u.fuses.size()));
      u.fuses[n.asUInt() - 1] = 3;
    }
  }
  ReadBytes(j["user_alarms"], Join(path, "user_alarms"), u.userAlarms);
}

}  // namespace

Site SiteFromJson(const Json::Value& j) {
  CheckKeys(j, "",
            {"name", "version", "address", "model", "flags", "ac", "rc", "dc", "ac_param",
             "ac_user_param", "dc_param", "dc_user_param", "changes", "faults"});
  Site s;
  if (!j["version"].isNull()) s.version = ParseByte(j["version"], "version");
  if (!j["address"].isNull()) s.address = ParseByte(j["address"], "address");

  s.model.fill(' ');
  const Json::Value& model = j["model"];
  if (!model.isNull()) {
    if (!model.isString()) Fail("model", "expected a string");
    const std::string text = model.asString();
    if (text.size() > s.model.size()) Fail("model", "longer than 20 bytes");
    std::memcpy(s.model.data(), text.data(), text.size());
  }

  const Json::Value& flags = j["flags"];
  CheckKeys(flags, "flags", {"ac", "rc", "dc"});
  if (flags.isObject()) {
    s.acFlags = ReadFlag(flags["ac"], "flags/ac");
    s.rcFlags = ReadFlag(flags["rc"], "flags/rc");
    s.dcFlags = ReadFlag(flags["dc"], "flags/dc");
  }

  ReadList(j["ac"], "ac", s.ac, ReadAcUnit);
  const Json::Value& rc = j["rc"];
  CheckKeys(rc, "rc", {"group", "modules"});
  if (rc.isObject()) {
    s.rc.group = ParseWord(rc["group"], "rc/group");
    ReadList(rc["modules"], "rc/modules", s.rc.modules, ReadModule);
  }
  ReadList(j["dc"], "dc", s.dc, ReadDcUnit);

  ReadFixedWords(j["ac_param"], "ac_param", s.acParam);
  ReadWords(j["ac_user_param"], "ac_user_param", s.acUserParam);
  ReadFixedWords(j["dc_param"], "dc_param", s.dcParam);
  ReadWords(j["dc_user_param"], "dc_user_param", s.dcUserParam);
  return s;
}

}  // namespace sim
