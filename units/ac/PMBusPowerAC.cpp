#include "PMBusPowerAC.h"

#include <cmath>
#include <cstring>
#include <iostream>
#include <iterator>
#include <regex>
#include <stdexcept>

namespace {

// Stored for a phase current or user value that the device does not supply (0xBDCCCCCD).
constexpr float kMissing = -0.1f;

// One alarm rule: active when the record's state byte holds the code.
template <class Record>
struct AlarmRow {
  const char* id;
  const char* code;
  const char* name;
  const char* text;  // after the panel text, if any
  int level;
  uint8_t Record::*state;
  uint8_t value;
};

}  // namespace

template <class TeleAC, class TeleACChannel, int RT_AC>
PMBusPowerAC<TeleAC, TeleACChannel, RT_AC>::PMBusPowerAC() = default;

template <class TeleAC, class TeleACChannel, int RT_AC>
bool PMBusPowerAC<TeleAC, TeleACChannel, RT_AC>::InitV(ZelVDevice* parent, unsigned int dataId,
                                                       const Json::Value& settings) {
  record.data_id = dataId;
  ReadThresholds(settings, diff_v, diff_i);
  return ZelVDevice::InitV(parent, dataId, settings);
}

// Analog values, one unit's part; a unit of one channel with p = 0 (30 bytes):
//   01 | 00 00 66 43  00 80 66 43  20 20 20 20  00 00 48 42 | 00 | 00 00 20 41  ...  ...
//   0    1            5            9            13            17   18           22   26
//   N    a = 230      b = 230.5    c: missing   f = 50        p    ia = 10      ib   ic
template <class TeleAC, class TeleACChannel, int RT_AC>
int PMBusPowerAC<TeleAC, TeleACChannel, RT_AC>::parse40_41(const unsigned char* data,
                                                           int remaining) {
  static const char kOverflow[] = "PMBusPowerAC:ProcotolError {} read 40_41 read overflow {} - {}";
  BoundedReader r(data, remaining);
  uint8_t n = 0;
  if (!r.u8(n)) return Finish(r, kOverflow);
  if (channels.empty()) {
    record.channel_count = n;
    channels.assign(n, TeleACChannel{});
  } else if (n != record.channel_count) {
    // An input added or removed at the site: its new structure, from this reply on.
    InfoLog("PMBusPowerAC:ProcotolError {} read 40_41 channel_count changed {} -> {}", DataId(),
            static_cast<unsigned>(record.channel_count), static_cast<unsigned>(n));
    record.channel_count = n;
    channels.resize(n);
  }
  for (TeleACChannel& ch : channels)
    if (!ReadAnalogChannel(r, ch)) return Finish(r, kOverflow);
  r.f32Or(record.ia, kMissing) && r.f32Or(record.ib, kMissing) && r.f32Or(record.ic, kMissing);
  return Finish(r, kOverflow);
}

template <class TeleAC, class TeleACChannel, int RT_AC>
bool PMBusPowerAC<TeleAC, TeleACChannel, RT_AC>::ReadAnalogChannel(BoundedReader& r,
                                                                   TeleACChannel& ch) {
  if (!(r.f32Or(ch.a, 0.0f) && r.f32Or(ch.b, 0.0f) && r.f32Or(ch.c, 0.0f) && r.f32Or(ch.f, 0.0f)))
    return false;
  std::cout << "a:" << static_cast<float>(ch.a) << " b:" << static_cast<float>(ch.b)
            << " c:" << static_cast<float>(ch.c) << " f:" << static_cast<float>(ch.f) << std::endl;
  if (!r.u8(ch.p40_41_count)) return false;
  const uint8_t p = ch.p40_41_count;
  if (p != TeleACChannel::P40_41_SIZE()) {
    InfoLog("PMBusPowerAC:ProcotolError {} read 40_41 p is {} not {}", DataId(),
            static_cast<unsigned>(p), static_cast<unsigned>(TeleACChannel::P40_41_SIZE()));
    return r.skip(4u * p);
  }
  if constexpr (TeleACChannel::P40_41_SIZE() > 0) {
    for (LeF32& v : ch.p40_41)
      if (!r.f32Or(v, kMissing)) return false;
  }
  return true;
}

// Switch states, one unit's part (5 bytes):
//   00 | 03 | 01 00 01
//   m    p    p user states (no airlock states: at most AIRLOCK_MAX of them)
template <class TeleAC, class TeleACChannel, int RT_AC>
int PMBusPowerAC<TeleAC, TeleACChannel, RT_AC>::parse40_43(const unsigned char* data,
                                                           int remaining) {
  static const char kOverflow[] = "PMBusPowerAC:ProcotolError {} read 40_43 read overflow {} - {}";
  BoundedReader r(data, remaining);
  if (!r.u8(record.airlock_count)) return Finish(r, kOverflow);
  const uint8_t m = record.airlock_count;
  if (m > TeleAC::AIRLOCK_MAX()) {
    InfoLog("ProcotolError %u read 40_43 m is %d max %d", DataId(), static_cast<unsigned>(m),
            static_cast<unsigned>(TeleAC::AIRLOCK_MAX()));
    return -1;
  }
  if constexpr (TeleAC::AIRLOCK_MAX() > 0) {
    if (!r.bytes(record.airlock, m)) return Finish(r, kOverflow);
  }
  if (!r.u8(record.p40_43_count)) return Finish(r, kOverflow);
  const uint8_t p = record.p40_43_count;
  if (p != TeleAC::P40_43_SIZE()) {
    InfoLog("PMBusPowerAC:ProcotolError P{} read 40_43 p is {} not {}", DataId(),
            static_cast<unsigned>(p), static_cast<unsigned>(TeleAC::P40_43_SIZE()));
    r.skip(p);
  } else {
    r.bytes(record.p40_43, p);
  }
  return Finish(r, kOverflow);
}

// Alarm states, one unit's part; a unit of one channel (18 bytes):
//   01 | 01 00 02 00 | 00 | 08 | 00 00 00 00 00 00 00 00 | 00 03 00
//   0    1             5    6    7                         15
//   -    a b c f       m    p    p user alarm states       ia ib ic
// The leading byte stands where the analog reply has the channel count; it is not read.
template <class TeleAC, class TeleACChannel, int RT_AC>
int PMBusPowerAC<TeleAC, TeleACChannel, RT_AC>::parse40_44(const unsigned char* data,
                                                           int remaining) {
  static const char kOverflow[] = "PMBusPowerAC:ProcotolError {} read 40_44 read overflow {} - {}";
  BoundedReader r(data, remaining);
  if (!r.skip(1)) return Finish(r, kOverflow);
  for (TeleACChannel& ch : channels)
    if (!ReadAlarmChannel(r, ch)) return Finish(r, kOverflow);
  r.u8(record.ia_alert) && r.u8(record.ib_alert) && r.u8(record.ic_alert);
  return Finish(r, kOverflow);
}

template <class TeleAC, class TeleACChannel, int RT_AC>
bool PMBusPowerAC<TeleAC, TeleACChannel, RT_AC>::ReadAlarmChannel(BoundedReader& r,
                                                                  TeleACChannel& ch) {
  if (!(r.u8(ch.a_alert) && r.u8(ch.b_alert) && r.u8(ch.c_alert) && r.u8(ch.f_alert))) return false;
  uint8_t m = 0;
  if (!r.u8(m)) return false;
  if (m != 0) {
    InfoLog("PMBusPowerAC:ProcotolError {} read 40_44 m is {}", DataId(), static_cast<unsigned>(m));
    if (!r.skip(m)) return false;
  }
  if (!r.u8(ch.p40_44_count)) return false;
  const uint8_t p = ch.p40_44_count;
  if (p != TeleACChannel::p40_44_SIZE()) {
    InfoLog("PMBusPowerAC:ProcotolError {} read 40_44 p is {} not {}", DataId(),
            static_cast<unsigned>(p), static_cast<unsigned>(TeleACChannel::p40_44_SIZE()));
    return r.skip(p);
  }
  return r.bytes(ch.p40_44, p);
}

template <class TeleAC, class TeleACChannel, int RT_AC>
float PMBusPowerAC<TeleAC, TeleACChannel, RT_AC>::Get_Value(unsigned int,
                                                            const std::string& name) const {
  CheckFresh();
  if (name == "ia") return record.ia;
  if (name == "ib") return record.ib;
  if (name == "ic") return record.ic;
  if (name == "ia_alert") return record.ia_alert;
  if (name == "ib_alert") return record.ib_alert;
  if (name == "ic_alert") return record.ic_alert;

  // Anywhere in the name; the lazy selector group holds the one character after the index.
  static const std::regex kChannelName("channel_(\\d+)_(.+?)");
  std::smatch match;
  if (!std::regex_search(name, match, kChannelName)) throw std::out_of_range("数据未提供");
  // Counted digit by digit and given up once past the channels, so that an index of any
  // length is simply out of range.
  size_t index = 0;
  for (auto digit = match[1].first; digit != match[1].second; ++digit) {
    index = index * 10 + static_cast<size_t>(*digit - '0');
    if (index >= channels.size()) break;
  }
  if (index >= channels.size()) throw std::out_of_range("通道参数越界");
  const TeleACChannel& ch = channels[index];
  const auto& selector = match[2];
  if (selector == "a") return ch.a;
  if (selector == "b") return ch.b;
  if (selector == "c") return ch.c;
  if (selector == "f") return ch.f;
  throw std::out_of_range("数据未提供");
}

template <class TeleAC, class TeleACChannel, int RT_AC>
bool PMBusPowerAC<TeleAC, TeleACChannel, RT_AC>::LoadFromCache(const unsigned char* data, int len) {
  if (len <= static_cast<int>(sizeof(TeleAC))) return false;
  std::memcpy(&record, data, sizeof(TeleAC));
  // The head's count stands even when the channel part is then refused.
  channels.resize(record.channel_count);
  return LoadChannels(data, len, sizeof(TeleAC), channels);
}

template <class TeleAC, class TeleACChannel, int RT_AC>
bool PMBusPowerAC<TeleAC, TeleACChannel, RT_AC>::VoltagesMoved() const {
  if (!image || image_size != sizeof(TeleAC) + sizeof(TeleACChannel) * channels.size()) return true;
  for (size_t k = 0; k < channels.size(); ++k) {
    TeleACChannel before;
    std::memcpy(&before, image.get() + sizeof(TeleAC) + sizeof(TeleACChannel) * k, sizeof before);
    const TeleACChannel& now = channels[k];
    const auto apart = [this](float x, float y) { return std::fabs(x - y) >= diff_v; };
    if (apart(now.a, before.a) || apart(now.b, before.b) || apart(now.c, before.c)) return true;
  }
  return false;
}

template <class TeleAC, class TeleACChannel, int RT_AC>
void PMBusPowerAC<TeleAC, TeleACChannel, RT_AC>::RoundDone() {
  const bool wasReady = dataReady_ == 1;
  StampRound(record.time_stamp);
  moved = !wasReady || VoltagesMoved();
  ComposeImage(image, image_size, record, channels);
  if (dataReady_ != 1) dataReady_ = 1;
  PublishRound(
      RT_AC, image.get(), image_size, [this] { BuildRules(); }, [this] { DoImpCheckAlert(); });
}

template <class TeleAC, class TeleACChannel, int RT_AC>
void PMBusPowerAC<TeleAC, TeleACChannel, RT_AC>::BuildRules() {
  using Channel = TeleACChannel;
  static const AlarmRow<Channel> kChannelRules[] = {
      {"AC_0", "06015", "交流输入电压过低告警", "输入线/相电压AB/A", 3, &Channel::a_alert, 1},
      {"AC_1", "06015", "交流输入电压过低告警", "输入线/相电压BC/B", 3, &Channel::b_alert, 1},
      {"AC_2", "06015", "交流输入电压过低告警", "输入线/相电压CA/C", 3, &Channel::c_alert, 1},
      {"AC_3", "06019", "交流输入频率过低告警", "频率", 3, &Channel::f_alert, 1},
      {"AC_4", "06014", "交流输入电压过高告警", "输入线/相电压AB/A", 2, &Channel::a_alert, 2},
      {"AC_5", "06014", "交流输入电压过高告警", "输入线/相电压BC/B", 2, &Channel::b_alert, 2},
      {"AC_6", "06014", "交流输入电压过高告警", "输入线/相电压CA/C", 2, &Channel::c_alert, 2},
      {"AC_7", "06018", "交流输入频率过高告警", "频率", 2, &Channel::f_alert, 2},
      {"AC_8", "06017", "交流输入缺相告警", "输入线/相电压AB/A", 2, &Channel::a_alert, 3},
      {"AC_9", "06017", "交流输入缺相告警", "输入线/相电压BC/B", 2, &Channel::b_alert, 3},
      {"AC_10", "06017", "交流输入缺相告警", "输入线/相电压CA/C", 2, &Channel::c_alert, 3},
  };
  static const AlarmRow<TeleAC> kUnitRules[] = {
      {"AC_12", "06029", "A相输入电流低于下限", "其他告警", 3, &TeleAC::ia_alert, 1},
      {"AC_13", "06029", "B相输入电流低于下限", "其他告警", 3, &TeleAC::ib_alert, 1},
      {"AC_14", "06029", "C相输入电流低于下限", "其他告警", 3, &TeleAC::ic_alert, 1},
      {"AC_15", "06029", "A相输入电流高于上限", "其他告警", 3, &TeleAC::ia_alert, 2},
      {"AC_16", "06029", "B相输入电流高于上限", "其他告警", 3, &TeleAC::ib_alert, 2},
      {"AC_17", "06029", "C相输入电流高于上限", "其他告警", 3, &TeleAC::ic_alert, 2},
      {"AC_18", "06029", "A相输入电流缺项", "其他告警", 3, &TeleAC::ia_alert, 3},
      {"AC_19", "06029", "B相输入电流缺项", "其他告警", 3, &TeleAC::ib_alert, 3},
      {"AC_20", "06029", "C相输入电流缺项", "其他告警", 3, &TeleAC::ic_alert, 3},
  };
  static const std::vector<RuleStrings> kChannelStrings = StringsOf(kChannelRules);
  static const std::vector<RuleStrings> kUnitStrings =
      StringsOf(kUnitRules, &AlarmRow<TeleAC>::text);
  constexpr size_t kPerChannel = std::size(kChannelRules);
  // Channels are told apart by the panel number (from 1) in the text and by the sequence.
  panelTexts_.Fit(channels.size(), kPerChannel, [](size_t k, size_t row) {
    return "交流屏" + std::to_string(k + 1) + kChannelRules[row].text;
  });
  AddInstanceRules(kChannelRules, kChannelStrings, panelTexts_, channels);
  for (size_t row = 0; row < std::size(kUnitRules); ++row) {
    const AlarmRow<TeleAC>& rule = kUnitRules[row];
    const RuleStrings& strings = kUnitStrings[row];
    AddRule(rule.level, strings.id, strings.code, strings.name, strings.text,
            record.*rule.state == rule.value);
  }
}

template class PMBusPowerAC<tele_c_rvt2600_ac, tele_c_rvt2600_ac_channel, 5106>;
