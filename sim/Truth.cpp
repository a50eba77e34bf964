#include "Truth.h"

namespace sim {
namespace {

// Appends the fields of a record image in order.
class ImageWriter {
 public:
  explicit ImageWriter(std::vector<uint8_t>& out) : out_(out) { out_.clear(); }
  void Byte(uint8_t b) { out_.push_back(b); }
  template <typename Container>
  void Bytes(const Container& bytes) {
    out_.insert(out_.end(), bytes.begin(), bytes.end());
  }
  void U32(uint32_t v) {
    for (int k = 0; k < 4; ++k) Byte(static_cast<uint8_t>(v >> (8 * k)));
  }
  void Value(const Word& w) { Bytes(w.bytes); }
  // Four equal non-zero bytes mark a value the device does not supply: the substitute instead.
  void ValueOr(const Word& w, float substitute) {
    const auto& b = w.bytes;
    const bool marker = b[0] != 0 && b[0] == b[1] && b[1] == b[2] && b[2] == b[3];
    Value(marker ? Word::Float(substitute) : w);
  }
  // A rectifier's user value: four equal bytes of any kind are stored as 0.
  void UserValue(const Word& w) {
    const auto& b = w.bytes;
    Value(b[0] == b[1] && b[1] == b[2] && b[2] == b[3] ? Word{} : w);
  }

 private:
  std::vector<uint8_t>& out_;
};

constexpr float kMissing = -0.1f;

bool AcImage(const AcUnit& unit, uint32_t id, const Stamp& stamp, std::vector<uint8_t>& out) {
  if (!unit.airlocks.empty() || unit.switches.size() != 3) return false;
  for (const AcChannel& ch : unit.channels)
    if (!ch.userValues.empty() || !ch.alarmExtra.empty() || ch.userAlerts.size() != 8) return false;
  ImageWriter w(out);
  w.U32(id);
  w.ValueOr(unit.ia, kMissing);
  w.ValueOr(unit.ib, kMissing);
  w.ValueOr(unit.ic, kMissing);
  w.Byte(static_cast<uint8_t>(unit.channels.size()));
  w.Byte(0);  // airlock states
  w.Byte(3);
  w.Bytes(unit.switches);
  w.Bytes(unit.alerts);
  w.Bytes(stamp);
  for (const AcChannel& ch : unit.channels) {
    for (const Word* v : {&ch.a, &ch.b, &ch.c, &ch.f}) w.ValueOr(*v, 0.0f);
    w.Byte(0);  // user analog values
    w.Bytes(ch.alerts);
    w.Byte(8);
    w.Bytes(ch.userAlerts);
  }
  return true;
}

bool RcImage(const Site& site, uint32_t id, const Stamp& stamp, std::vector<uint8_t>& out) {
  if (site.dcUserParam.size() != 5) return false;
  for (const RcModule& m : site.rc.modules)
    if (m.userValues.size() != 4 || m.userStates.size() != 1 || m.userAlarms.size() != 4)
      return false;
  ImageWriter w(out);
  w.U32(id);
  for (const Word& v : site.acParam) w.Value(v);
  for (const Word& v : site.dcParam) w.Value(v);
  w.Byte(5);
  for (const Word& v : site.dcUserParam) w.Value(v);
  w.Value(site.rc.group);
  w.Byte(static_cast<uint8_t>(site.rc.modules.size()));
  w.Bytes(stamp);
  for (const RcModule& m : site.rc.modules) {
    w.Value(m.analog);
    w.Byte(4);
    for (const Word& v : m.userValues) w.UserValue(v);
    w.Bytes(m.states);
    w.Byte(1);
    w.Bytes(m.userStates);
    w.Byte(m.fault);
    w.Byte(4);
    w.Bytes(m.userAlarms);
  }
  return true;
}

bool DcImage(const DcUnit& unit, uint32_t id, const Stamp& stamp, std::vector<uint8_t>& out) {
  if (unit.m.size() != 4 || unit.n.size() != 9 || unit.p.size() != 3 || unit.fuses.size() != 64 ||
      unit.userAlarms.size() != 13)
    return false;
  ImageWriter w(out);
  w.U32(id);
  w.Value(unit.v);
  w.Value(unit.i);
  w.Byte(4);
  for (const Word& v : unit.m) w.Value(v);
  w.Byte(9);
  for (const Word& v : unit.n) w.Value(v);
  w.Byte(3);
  for (const Word& v : unit.p) w.ValueOr(v, kMissing);
  w.Byte(unit.vState);
  w.Byte(64);
  w.Bytes(unit.fuses);
  w.Byte(13);
  w.Bytes(unit.userAlarms);
  w.Bytes(stamp);
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
