#include "Site.h"

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <set>

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

Word Word::Blank() {
  Word w = NotAvailable(0x20);
  w.wire = Wire::Blanks;
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

// A value group: a number (a float), "na" (the not-available marker 20 20 20 20, in hex digits
// or as blank fill as the site says), "na:blank" (the marker as blank fill), "na:NN" (the marker
// filled with NN, in hex digits) or "raw:HHHHHHHH" (four bytes in line order).
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
    if (s == "na") {
      Word w = Word::NotAvailable();
      w.wire = Word::Wire::AsSite;
      return w;
    }
    if (s == "na:blank") return Word::Blank();
    if (s.rfind("na:", 0) == 0 && ParseHex(s.substr(3), b) && b.size() == 1 && b[0] != 0)
      return Word::NotAvailable(b[0]);
    if (s.rfind("raw:", 0) == 0 && ParseHex(s.substr(4), b) && b.size() == 4) {
      Word w;
      for (int k = 0; k < 4; ++k) w.bytes[k] = b[k];
      return w;
    }
    Fail(path, "expected a number, \"na\", \"na:blank\", \"na:NN\" or \"raw:HHHHHHHH\", got \"" +
                   s + "\"");
  }
  Fail(path, "expected a value");
}

void RequireArray(const Json::Value& v, const std::string& path) {
  if (!v.isArray()) Fail(path, "expected an array");
  if (v.size() > 255) Fail(path, "more than 255 entries: a count byte cannot say so");
}

void ParseInto(const Json::Value& v, const std::string& path, uint8_t& out) {
  out = ParseByte(v, path);
}
void ParseInto(const Json::Value& v, const std::string& path, Word& out) {
  out = ParseWord(v, path);
}

// An array of bytes or values; absent keeps the default.
template <typename T>
void ParseInto(const Json::Value& v, const std::string& path, std::vector<T>& out) {
  if (v.isNull()) return;
  RequireArray(v, path);
  out.assign(v.size(), T{});
  for (Json::ArrayIndex k = 0; k < v.size(); ++k) ParseInto(v[k], Join(path, k), out[k]);
}

// A fixed set of bytes or values: shorter arrays are filled with zeros.
template <typename T, size_t N>
void ParseInto(const Json::Value& v, const std::string& path, std::array<T, N>& out) {
  if (v.isNull()) return;
  RequireArray(v, path);
  if (v.size() > N) Fail(path, "at most " + std::to_string(N) + " entries");
  out.fill(T{});
  for (Json::ArrayIndex k = 0; k < v.size(); ++k) ParseInto(v[k], Join(path, k), out[k]);
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

// The members of one JSON object, read by name; a member that nothing reads is an unknown key
// (most likely a misspelt one).
class Fields {
 public:
  Fields(const Json::Value& j, std::string path) : j_(j), path_(std::move(path)) {
    if (!j_.isNull() && !j_.isObject()) Fail(path_, "expected an object");
  }
  // After the last member: fails on a member that nothing has read.
  void Done() const {
    if (!j_.isObject()) return;
    for (const std::string& key : j_.getMemberNames())
      if (read_.count(key) == 0) Fail(Join(path_, key), "unknown key");
  }

  const Json::Value& operator[](const char* key) {
    read_.insert(key);
    static const Json::Value none;
    return j_.isObject() ? j_[key] : none;
  }
  std::string Path(const char* key) const { return Join(path_, key); }

  // A member into out; absent keeps what out holds.
  template <typename T>
  void Read(const char* key, T& out) {
    const Json::Value& v = (*this)[key];
    if (!v.isNull()) ParseInto(v, Path(key), out);
  }
  template <typename T, typename Fn>
  void List(const char* key, std::vector<T>& out, Fn fn) {
    ReadList((*this)[key], Path(key), out, fn);
  }

 private:
  const Json::Value& j_;
  std::string path_;
  std::set<std::string> read_;
};

void ReadChannel(const Json::Value& j, const std::string& path, AcChannel& ch) {
  Fields f(j, path);
  f.Read("a", ch.a);
  f.Read("b", ch.b);
  f.Read("c", ch.c);
  f.Read("f", ch.f);
  f.Read("user_values", ch.userValues);
  f.Read("alerts", ch.alerts);
  f.Read("alarm_extra", ch.alarmExtra);
  f.Read("user_alerts", ch.userAlerts);
  f.Done();
}

void ReadAcUnit(const Json::Value& j, const std::string& path, AcUnit& u) {
  Fields f(j, path);
  f.List("channels", u.channels, ReadChannel);
  f.Read("ia", u.ia);
  f.Read("ib", u.ib);
  f.Read("ic", u.ic);
  f.Read("alerts", u.alerts);
  f.Read("airlocks", u.airlocks);
  f.Read("switches", u.switches);
  f.Done();
}

void ReadModule(const Json::Value& j, const std::string& path, RcModule& m) {
  Fields f(j, path);
  f.Read("analog", m.analog);
  f.Read("user_values", m.userValues);
  f.Read("states", m.states);
  f.Read("user_states", m.userStates);
  f.Read("fault", m.fault);
  f.Read("user_alarms", m.userAlarms);
  f.Done();
}

void ReadDcUnit(const Json::Value& j, const std::string& path, DcUnit& u) {
  Fields f(j, path);
  f.Read("v", u.v);
  f.Read("i", u.i);
  f.Read("m", u.m);
  f.Read("n", u.n);
  f.Read("p", u.p);
  f.Read("v_state", u.vState);
  const Json::Value& fuses = f["fuses"];
  if (fuses.isUInt()) {
    if (fuses.asUInt() > 255) Fail(f.Path("fuses"), "more than 255 fuses");
    u.fuses.assign(fuses.asUInt(), 0);
  } else {
    f.Read("fuses", u.fuses);
  }
  // Fuses in fault, numbered from 1 as the alarm texts number them.
  const Json::Value& faults = f["fuse_faults"];
  if (!faults.isNull()) {
    RequireArray(faults, f.Path("fuse_faults"));
    for (Json::ArrayIndex k = 0; k < faults.size(); ++k) {
      const Json::Value& n = faults[k];
      if (!n.isUInt() || n.asUInt() < 1 || n.asUInt() > u.fuses.size())
        Fail(Join(f.Path("fuse_faults"), k),
             "expected a fuse number from 1 to " + std::to_string(u.fuses.size()));
      u.fuses[n.asUInt() - 1] = 3;
    }
  }
  f.Read("user_alarms", u.userAlarms);
  f.Done();
}

}  // namespace

Site SiteFromJson(const Json::Value& j) {
  Site s;
  Fields f(j, "");
  // Free text, and what the scenario reads.
  for (const char* other : {"name", "changes", "faults"}) f[other];
  f.Read("version", s.version);
  f.Read("address", s.address);

  s.model.fill(' ');
  const Json::Value& model = f["model"];
  if (!model.isNull()) {
    if (!model.isString()) Fail("model", "expected a string");
    const std::string text = model.asString();
    if (text.size() > s.model.size()) Fail("model", "longer than 20 bytes");
    std::memcpy(s.model.data(), text.data(), text.size());
  }

  const Json::Value& blankFill = f["blank_fill"];
  if (!blankFill.isNull()) {
    if (!blankFill.isBool()) Fail("blank_fill", "expected true or false");
    s.blankFill = blankFill.asBool();
  }

  Fields flags(f["flags"], "flags");
  s.acFlags = ReadFlag(flags["ac"], "flags/ac");
  s.rcFlags = ReadFlag(flags["rc"], "flags/rc");
  s.dcFlags = ReadFlag(flags["dc"], "flags/dc");
  flags.Done();

  f.List("ac", s.ac, ReadAcUnit);
  Fields rc(f["rc"], "rc");
  rc.Read("group", s.rc.group);
  rc.List("modules", s.rc.modules, ReadModule);
  rc.Done();
  f.List("dc", s.dc, ReadDcUnit);

  f.Read("ac_param", s.acParam);
  f.Read("ac_user_param", s.acUserParam);
  f.Read("dc_param", s.dcParam);
  f.Read("dc_user_param", s.dcUserParam);
  f.Done();
  return s;
}

}  // namespace sim
