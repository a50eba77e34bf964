#include "Encoder.h"

#include <algorithm>
#include <cstdio>

namespace sim {

std::string StepName(uint16_t command) {
  char text[8];
  std::snprintf(text, sizeof text, "%02X_%02X", command >> 8, command & 0xFF);
  return text;
}

namespace {

// Appends to a reply's INFO and notes where each count byte stands.
class InfoWriter {
 public:
  InfoWriter(Info& out, bool blankFill) : out_(out), blankFill_(blankFill) {
    out_.bytes.clear();
    out_.counts.clear();
    out_.blanks.clear();
  }
  void Byte(uint8_t b) { out_.bytes.push_back(b); }
  void Value(const Word& w) {
    if (w.wire == Word::Wire::Blanks || (w.wire == Word::Wire::AsSite && blankFill_))
      for (size_t k = 0; k < w.bytes.size(); ++k) out_.blanks.push_back(out_.bytes.size() + k);
    out_.bytes.insert(out_.bytes.end(), w.bytes.begin(), w.bytes.end());
  }
  template <typename Container>
  void Bytes(const Container& bytes) {
    out_.bytes.insert(out_.bytes.end(), bytes.begin(), bytes.end());
  }
  void Values(const std::vector<Word>& words) {
    for (const Word& w : words) Value(w);
  }
  // Count bytes never exceed 255: the site model refuses longer lists.
  void Count(const std::string& name, size_t n) {
    out_.counts[name] = out_.bytes.size();
    Byte(static_cast<uint8_t>(n));
  }
  // A count of values followed by the values.
  void CountedValues(const std::string& name, const std::vector<Word>& words) {
    Count(name, words.size());
    Values(words);
  }
  void CountedBytes(const std::string& name, const std::vector<uint8_t>& bytes) {
    Count(name, bytes.size());
    Bytes(bytes);
  }

 private:
  Info& out_;
  bool blankFill_;
};

std::string Unit(const char* kind, size_t u) {
  return std::string(kind) + "/" + std::to_string(u);
}

// 40_41, per AC unit after FL UC:
//   N | per channel: a(4) b(4) c(4) f(4) p(1) p×4 | ia(4) ib(4) ic(4)
void AcAnalog(const Site& s, InfoWriter& w) {
  for (size_t u = 0; u < s.ac.size(); ++u) {
    const AcUnit& unit = s.ac[u];
    const std::string name = Unit("ac", u) + "/channels";
    w.Count(name, unit.channels.size());
    for (size_t c = 0; c < unit.channels.size(); ++c) {
      const AcChannel& ch = unit.channels[c];
      w.Value(ch.a);
      w.Value(ch.b);
      w.Value(ch.c);
      w.Value(ch.f);
      w.CountedValues(name + "/" + std::to_string(c) + "/p", ch.userValues);
    }
    w.Value(unit.ia);
    w.Value(unit.ib);
    w.Value(unit.ic);
  }
}

// 40_43, per AC unit after FL UC: m(1) m airlocks | p(1) p switch states
void AcSwitch(const Site& s, InfoWriter& w) {
  for (size_t u = 0; u < s.ac.size(); ++u) {
    w.CountedBytes(Unit("ac", u) + "/m", s.ac[u].airlocks);
    w.CountedBytes(Unit("ac", u) + "/p", s.ac[u].switches);
  }
}

// 40_44, per AC unit after FL UC:
//   lead (the channel count) | per channel: a b c f alarm states, m(1) m bytes, p(1) p bytes |
//   ia ib ic alarm states
void AcAlarm(const Site& s, InfoWriter& w) {
  for (size_t u = 0; u < s.ac.size(); ++u) {
    const AcUnit& unit = s.ac[u];
    const std::string name = Unit("ac", u);
    w.Count(name + "/lead", unit.channels.size());
    for (size_t c = 0; c < unit.channels.size(); ++c) {
      const AcChannel& ch = unit.channels[c];
      const std::string chName = name + "/channels/" + std::to_string(c);
      w.Bytes(ch.alerts);
      w.CountedBytes(chName + "/m", ch.alarmExtra);
      w.CountedBytes(chName + "/p", ch.userAlerts);
    }
    w.Bytes(unit.alerts);
  }
}

std::string Module(size_t k) {
  return "rc/modules/" + std::to_string(k) + "/p";
}

// 41_41: FL | group(4) | n | per module: analog(4) p(1) p×4
void RcAnalog(const Site& s, InfoWriter& w) {
  w.Value(s.rc.group);
  w.Count("rc/modules", s.rc.modules.size());
  for (size_t k = 0; k < s.rc.modules.size(); ++k) {
    w.Value(s.rc.modules[k].analog);
    w.CountedValues(Module(k), s.rc.modules[k].userValues);
  }
}

// 41_43: FL | n | per module: three states, p(1) p user states
void RcSwitch(const Site& s, InfoWriter& w) {
  w.Count("rc/modules", s.rc.modules.size());
  for (size_t k = 0; k < s.rc.modules.size(); ++k) {
    w.Bytes(s.rc.modules[k].states);
    w.CountedBytes(Module(k), s.rc.modules[k].userStates);
  }
}

// 41_44: FL | n | per module: fault(1) p(1) p user alarms
void RcAlarm(const Site& s, InfoWriter& w) {
  w.Count("rc/modules", s.rc.modules.size());
  for (size_t k = 0; k < s.rc.modules.size(); ++k) {
    w.Byte(s.rc.modules[k].fault);
    w.CountedBytes(Module(k), s.rc.modules[k].userAlarms);
  }
}

// 42_41, per DC unit: v(4) i(4) | m(1) m×4 | n(1) n×4 | p(1) p×4
void DcAnalogPart(const DcUnit& unit, size_t u, InfoWriter& w) {
  w.Value(unit.v);
  w.Value(unit.i);
  w.CountedValues(Unit("dc", u) + "/m", unit.m);
  w.CountedValues(Unit("dc", u) + "/n", unit.n);
  w.CountedValues(Unit("dc", u) + "/p", unit.p);
}

// 42_44, per DC unit: v_state(1) | a(1) a fuse states | q(1) q user alarm states
void DcAlarmPart(const DcUnit& unit, size_t u, InfoWriter& w) {
  w.Byte(unit.vState);
  w.CountedBytes(Unit("dc", u) + "/a", unit.fuses);
  w.CountedBytes(Unit("dc", u) + "/q", unit.userAlarms);
}

}  // namespace

bool EncodeInfo(const Site& s, uint16_t command, const Flags& flags, Info& out) {
  InfoWriter w(out, s.blankFill);
  switch (command) {
    case kModel:  // the 20-byte model field
      w.Bytes(s.model);
      return true;

    // AC replies: FL (change flags) | UC (AC unit count) | the units' parts
    case kAcAnalog:
    case kAcSwitch:
    case kAcAlarm:
      w.Byte(flags.ac);
      w.Count("units", s.ac.size());
      if (command == kAcAnalog) AcAnalog(s, w);
      if (command == kAcSwitch) AcSwitch(s, w);
      if (command == kAcAlarm) AcAlarm(s, w);
      return true;

    case kRcAnalog:
      w.Byte(flags.rc);
      RcAnalog(s, w);
      return true;
    case kRcSwitch:
      w.Byte(flags.rc);
      RcSwitch(s, w);
      return true;
    case kRcAlarm:
      w.Byte(flags.rc);
      RcAlarm(s, w);
      return true;

    // FL | UC | parts. With four or more units the parts start at UC itself: the master reads
    // the unit count from the first byte of the first unit's voltage, so that byte carries
    // the count.
    case kDcAnalog:
      w.Byte(flags.dc);
      if (s.dc.size() < 4) w.Count("units", s.dc.size());
      for (size_t u = 0; u < s.dc.size(); ++u) DcAnalogPart(s.dc[u], u, w);
      if (s.dc.size() >= 4) {
        out.bytes[1] = static_cast<uint8_t>(s.dc.size());
        out.counts["units"] = 1;
        out.blanks.erase(std::remove(out.blanks.begin(), out.blanks.end(), size_t{1}),
                         out.blanks.end());
      }
      return true;
    case kDcAlarm:
      w.Byte(flags.dc);
      w.Count("units", s.dc.size());
      for (size_t u = 0; u < s.dc.size(); ++u) DcAlarmPart(s.dc[u], u, w);
      return true;

    // No leading byte: five values | m(1) m×4
    case kAcParam:
      for (const Word& v : s.acParam) w.Value(v);
      w.CountedValues("ac_param/m", s.acUserParam);
      return true;
    // No leading byte: two values | p(1) p×4
    case kDcParam:
      for (const Word& v : s.dcParam) w.Value(v);
      w.CountedValues("dc_param/p", s.dcUserParam);
      return true;
  }
  return false;
}

}  // namespace sim
