#include "PMBusPowerDC.h"

#include <boost/lexical_cast.hpp>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <stdexcept>

#include "DCRecord.h"
#include "DCRules.h"

namespace {

const char kOverflow41[] = "PMBusPowerAC:ProcotolError {} read 42_41 read overflow {} - {}";
const char kOverflow44[] = "PMBusPowerAC:ProcotolError {} read 42_44 read overflow {} - {}";
const char kTooManyM[] =
    "PMBusPowerDC<TeleDC, RT_DC>:ProcotolError {} read dc_m is {}, MAX_M is {}";
const char kTooManyN[] =
    "PMBusPowerDC<TeleDC, RT_DC>:ProcotolError {} read dc_n is {}, MAX_N is {}";
const char kTooManyP[] =
    "PMBusPowerDC<TeleDC, RT_DC>:ProcotolError {} read p_count is {}, support user_p max is {}";
const char kTooManyAlertP[] =
    "PMBusPowerDC<TeleDC, RT_DC>:ProcotolError {} read 42_44 p is {},  alert_p is {}";

// Prints the first four bytes of a part, or as many as it has.
void PrintPartHead(const unsigned char* data, int remaining) {
  const BoundedReader part(data, remaining);
  std::printf("parse 42 41:");
  for (size_t k = 0; k < 4; ++k) {
    if (const unsigned char* b = part.at(k)) std::printf(" %x", static_cast<unsigned>(*b));
  }
  std::printf("\n");
}

// Reads count state bytes: the first Cap are stored, the rest passed over.
template <size_t Cap>
bool ReadCapped(BoundedReader& r, uint8_t (&slots)[Cap], uint8_t count) {
  const size_t kept = count < Cap ? count : Cap;
  return r.bytes(slots, kept) && r.skip(count - kept);
}

// A change to or from a value that is not a number counts as a move.
bool Moved(float now, float before, float threshold) {
  if (std::isnan(now) || std::isnan(before)) return std::isnan(now) != std::isnan(before);
  return std::fabs(now - before) >= threshold;
}

}  // namespace

template <class TeleDC, int RT_DC>
template <size_t Cap>
bool PMBusPowerDC<TeleDC, RT_DC>::ReadOrSkip(BoundedReader& r, LeF32 (&slots)[Cap], uint8_t count,
                                             const char* format) {
  if (count > Cap) {
    InfoLog(format, DataId(), static_cast<unsigned>(count), static_cast<unsigned>(Cap));
    return r.skip(4u * count);
  }
  for (size_t k = 0; k < count; ++k) {
    if (!r.f32(slots[k])) return false;
  }
  return true;
}

// Analog part, m = 2, n = 0, p = 1 (23 bytes):
//   00 00 54 42  00 00 20 41  02  00 00 80 3F  00 00 00 40  00  01  20 20 20 20
//   v 53.0       i 10.0       m   M1 1.0       M2 2.0       n   p   P1 not supplied: -0.1
//   0            4            8   9            13           17  18  19
template <class TeleDC, int RT_DC>
int PMBusPowerDC<TeleDC, RT_DC>::parse42_41(const unsigned char* data, int remaining) {
  PrintPartHead(data, remaining);
  BoundedReader r(data, remaining);
  const bool counted = r.f32(record.v) && r.f32(record.i) && r.u8(record.dc_m) &&
                       ReadOrSkip(r, record.m_value, record.dc_m, kTooManyM) && r.u8(record.dc_n) &&
                       ReadOrSkip(r, record.n_value, record.dc_n, kTooManyN) &&
                       r.u8(record.p_count);
  if (counted) {
    if (record.p_count > TeleDC::P_SIZE()) {
      InfoLog(kTooManyP, DataId(), static_cast<unsigned>(record.p_count),
              static_cast<unsigned>(TeleDC::P_SIZE()));
      return remaining;  // the rest of the reply counts as used
    }
    for (size_t k = 0; k < record.p_count; ++k) {
      if (!r.f32Or(record.user_p[k], -0.1f)) break;
    }
  }
  return Finish(r, kOverflow41);
}

// Alarm part, a = 2, q = 1 (6 bytes):
//   01       02  00 03           01  00
//   v_state  a   fuse 1, fuse 2  q   user state 1
template <class TeleDC, int RT_DC>
int PMBusPowerDC<TeleDC, RT_DC>::parse42_44(const unsigned char* data, int remaining) {
  BoundedReader r(data, remaining);
  if (r.u8(record.v_state) && r.u8(record.alert_m_count) &&
      ReadCapped(r, record.alert_m, record.alert_m_count) && r.u8(record.alert_p_count)) {
    if (record.alert_p_count > TeleDC::ALERT_P_SIZE())
      InfoLog(kTooManyAlertP, DataId(), static_cast<unsigned>(record.alert_p_count),
              static_cast<unsigned>(TeleDC::ALERT_P_SIZE()));
    ReadCapped(r, record.alert_p, record.alert_p_count);
  }
  return Finish(r, kOverflow44);
}

template <class TeleDC, int RT_DC>
float PMBusPowerDC<TeleDC, RT_DC>::Get_Value(unsigned int, const std::string& name) const {
  CheckFresh();
  static const struct {
    const char* name;
    LeF32 TeleDC::*field;
  } kSignals[] = {{"v", &TeleDC::v}, {"i", &TeleDC::i}};
  for (const auto& signal : kSignals) {
    if (name == signal.name) return record.*signal.field;
  }
  throw std::out_of_range("数据未就绪");
}

template <class TeleDC, int RT_DC>
bool PMBusPowerDC<TeleDC, RT_DC>::LoadFromCache(const unsigned char* data, int len) {
  if (data == nullptr || len != static_cast<int>(sizeof(TeleDC))) return false;
  std::memcpy(&record, data, sizeof(TeleDC));
  // The cached image is the last round the unit published: the next round moves from it.
  last_v = record.v;
  last_i = record.i;
  MarkLoaded();
  return true;
}

template <class TeleDC, int RT_DC>
bool PMBusPowerDC<TeleDC, RT_DC>::InitV(ZelVDevice* parent, unsigned int dataId,
                                        const Json::Value& settings) {
  record.data_id = dataId;
  ReadThresholds(settings, diff_v, diff_i);
  return ZelVDevice::InitV(parent, dataId, settings);
}

template <class TeleDC, int RT_DC>
void PMBusPowerDC<TeleDC, RT_DC>::RoundDone() {
  StampRound(record.time_stamp);
  JudgeMovement();
  if (dataReady_ != 1) dataReady_ = 1;
  PublishRound(
      RT_DC, RecordBytes(record), sizeof(TeleDC), [this] { BuildRules(); },
      [this] { DoImpCheckAlert(); });
}

template <class TeleDC, int RT_DC>
void PMBusPowerDC<TeleDC, RT_DC>::JudgeMovement() {
  const float v = record.v;
  const float i = record.i;
  moved = dataReady_ != 1 || Moved(v, last_v, diff_v) || Moved(i, last_i, diff_i);
  last_v = v;
  last_i = i;
}

template <class TeleDC, int RT_DC>
void PMBusPowerDC<TeleDC, RT_DC>::BuildRules() {
  // The voltage rules' text is their name.
  static const std::vector<RuleStrings> kStrings = StringsOf(kDCRules, &DCRuleRow::name);
  for (size_t r = 0; r < std::size(kDCRules); ++r) {
    const DCRuleRow& row = kDCRules[r];
    const RuleStrings& strings = kStrings[r];
    if (row.states == DCStates::Voltage) {
      AddRule(row.level, strings.id, strings.code, strings.name, strings.text,
              record.v_state == row.active);
      continue;
    }
    // Fuse rules only when the device reports exactly as many fuses as the record holds.
    if (record.alert_m_count != TeleDC::ALERT_M_SIZE()) continue;
    // The fuse texts depend on nothing the device reports: made once, by the first round that
    // needs them, for every DC unit (the table has one row of fuse rules).
    static const std::vector<std::string> kFuseTexts = [&row] {
      std::vector<std::string> texts(TeleDC::ALERT_M_SIZE());
      for (size_t k = 0; k < texts.size(); ++k)
        texts[k] = row.prefix + boost::lexical_cast<std::string>(k + 1) + row.name;
      return texts;
    }();
    for (size_t k = 0; k < TeleDC::ALERT_M_SIZE(); ++k)
      AddRule(row.level, strings.id, strings.code, strings.name, kFuseTexts[k],
              record.alert_m[k] == row.active);
  }
}

template class PMBusPowerDC<tele_c_rvt2600_dc, 5108>;
