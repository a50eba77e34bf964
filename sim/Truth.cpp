#include "Truth.h"

#include "Decoder.h"

namespace sim {
namespace {

constexpr float kMissing = -0.1f;

// Four equal non-zero bytes mark a value the device does not supply: the substitute instead.
Word ValueOr(const Word& w, float substitute) {
  const auto& b = w.bytes;
  const bool marker = b[0] != 0 && b[0] == b[1] && b[1] == b[2] && b[2] == b[3];
  return marker ? Word::Float(substitute) : w;
}

// A rectifier's user value: four equal bytes of any kind are stored as 0.
Word UserValue(const Word& w) {
  const auto& b = w.bytes;
  return b[0] == b[1] && b[1] == b[2] && b[2] == b[3] ? Word{} : w;
}

// The image's fields by the host's layout table, set by name.
class Writer : public zel::ImageBuilder {
 public:
  Writer(int dataType, size_t repeats) : ImageBuilder(*zel::LayoutOf(dataType), repeats) {}
  void Value(const char* name, const Word& w, size_t index = 0) {
    Bytes(name, w.bytes.data(), 4, index);
  }
  void ValueIn(size_t k, const char* name, const Word& w, size_t index = 0) {
    BytesIn(k, name, w.bytes.data(), 4, index);
  }
  template <typename Container>
  void All(const char* name, const Container& bytes) {
    Bytes(name, bytes.data(), bytes.size());
  }
  template <typename Container>
  void AllIn(size_t k, const char* name, const Container& bytes) {
    BytesIn(k, name, bytes.data(), bytes.size());
  }
};

bool AcImage(const AcUnit& unit, uint32_t id, const Stamp& stamp, std::vector<uint8_t>& out) {
  if (!unit.airlocks.empty() || unit.switches.size() != 3) return false;
  for (const AcChannel& ch : unit.channels)
    if (!ch.userValues.empty() || !ch.alarmExtra.empty() || ch.userAlerts.size() != 8) return false;
  Writer w(5106, unit.channels.size());
  w.U32("data_id", id);
  w.Value("ia", ValueOr(unit.ia, kMissing));
  w.Value("ib", ValueOr(unit.ib, kMissing));
  w.Value("ic", ValueOr(unit.ic, kMissing));
  w.U8("channel_count", static_cast<uint8_t>(unit.channels.size()));
  w.U8("p40_43_count", 3);
  w.All("p40_43", unit.switches);
  w.U8("ia_alert", unit.alerts[0]);
  w.U8("ib_alert", unit.alerts[1]);
  w.U8("ic_alert", unit.alerts[2]);
  w.All("time_stamp", stamp);
  for (size_t k = 0; k < unit.channels.size(); ++k) {
    const AcChannel& ch = unit.channels[k];
    w.ValueIn(k, "a", ValueOr(ch.a, 0.0f));
    w.ValueIn(k, "b", ValueOr(ch.b, 0.0f));
    w.ValueIn(k, "c", ValueOr(ch.c, 0.0f));
    w.ValueIn(k, "f", ValueOr(ch.f, 0.0f));
    w.U8In(k, "a_alert", ch.alerts[0]);
    w.U8In(k, "b_alert", ch.alerts[1]);
    w.U8In(k, "c_alert", ch.alerts[2]);
    w.U8In(k, "f_alert", ch.alerts[3]);
    w.U8In(k, "p40_44_count", 8);
    w.AllIn(k, "p40_44", ch.userAlerts);
  }
  out = w.image();
  return true;
}

bool RcImage(const Site& site, uint32_t id, const Stamp& stamp, std::vector<uint8_t>& out) {
  if (site.dcUserParam.size() != 5) return false;
  for (const RcModule& m : site.rc.modules)
    if (m.userValues.size() != 4 || m.userStates.size() != 1 || m.userAlarms.size() != 4)
      return false;
  Writer w(5107, site.rc.modules.size());
  w.U32("data_id", id);
  for (size_t k = 0; k < site.acParam.size(); ++k) w.Value("ac_param", site.acParam[k], k);
  for (size_t k = 0; k < site.dcParam.size(); ++k) w.Value("dc_param", site.dcParam[k], k);
  w.U8("dc_user_param_count", 5);
  for (size_t k = 0; k < 5; ++k) w.Value("dc_user_param", site.dcUserParam[k], k);
  w.Value("group_analog", site.rc.group);
  w.U8("module_count", static_cast<uint8_t>(site.rc.modules.size()));
  w.All("time_stamp", stamp);
  for (size_t k = 0; k < site.rc.modules.size(); ++k) {
    const RcModule& m = site.rc.modules[k];
    w.ValueIn(k, "analog", m.analog);
    w.U8In(k, "user_analog_count", 4);
    for (size_t v = 0; v < 4; ++v) w.ValueIn(k, "user_analog", UserValue(m.userValues[v]), v);
    w.AllIn(k, "state", m.states);
    w.U8In(k, "user_state_count", 1);
    w.AllIn(k, "user_state", m.userStates);
    w.U8In(k, "fault", m.fault);
    w.U8In(k, "user_alarm_count", 4);
    w.AllIn(k, "user_alarm", m.userAlarms);
  }
  out = w.image();
  return true;
}

bool DcImage(const DcUnit& unit, uint32_t id, const Stamp& stamp, std::vector<uint8_t>& out) {
  if (unit.m.size() != 4 || unit.n.size() != 9 || unit.p.size() != 3 || unit.fuses.size() != 64 ||
      unit.userAlarms.size() != 13)
    return false;
  Writer w(5108, 0);
  w.U32("data_id", id);
  w.Value("v", unit.v);
  w.Value("i", unit.i);
  w.U8("dc_m", 4);
  for (size_t k = 0; k < 4; ++k) w.Value("m_value", unit.m[k], k);
  w.U8("dc_n", 9);
  for (size_t k = 0; k < 9; ++k) w.Value("n_value", unit.n[k], k);
  w.U8("p_count", 3);
  for (size_t k = 0; k < 3; ++k) w.Value("user_p", ValueOr(unit.p[k], kMissing), k);
  w.U8("v_state", unit.vState);
  w.U8("alert_m_count", 64);
  w.All("alert_m", unit.fuses);
  w.U8("alert_p_count", 13);
  w.All("alert_p", unit.userAlarms);
  w.All("time_stamp", stamp);
  out = w.image();
  return true;
}

}  // namespace

bool TruthImages(const Site& site, const ImageIds& ids, const Stamp& stamp, Images& out) {
  if (site.ac.size() != ids.ac.size() || site.dc.size() != ids.dc.size() || site.dc.size() >= 4)
    return false;
  out.ac.resize(site.ac.size());
  out.dc.resize(site.dc.size());
  for (size_t u = 0; u < site.ac.size(); ++u)
    if (!AcImage(site.ac[u], ids.ac[u], stamp, out.ac[u])) return false;
  for (size_t u = 0; u < site.dc.size(); ++u)
    if (!DcImage(site.dc[u], ids.dc[u], stamp, out.dc[u])) return false;
  return RcImage(site, ids.rc, stamp, out.rc);
}

}  // namespace sim
