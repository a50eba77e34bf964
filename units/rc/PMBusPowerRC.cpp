#include "PMBusPowerRC.h"

#include <boost/lexical_cast.hpp>
#include <cstring>
#include <iostream>
#include <iterator>
#include <stdexcept>

namespace {

const char kOverflow41_41[] = "PMBusPowerAC:ProcotolError {} read 41_41 read overflow {} - {}";
const char kInChannel41_41[] =
    "PMBusPowerAC:ProcotolError {} read 41_41 in channel overflow {} - {}";
const char kCount41_41[] =
    "PMBusPowerRC<TeleRC,TeleRCChannel,RT_RC>:ProcotolError {} read 41_41 p is {} not {}";
const char kModules41_41[] =
    "PMBusPowerRC<TeleRC,TeleRCChannel,RT_RC>:ProcotolError {} read 41_41 channel_count changed "
    "{} -> {}";
const char kOverflow41_43[] = "PMBusPowerAC:ProcotolError {} read 41_43 read overflow {} - {}";
const char kCount41_43[] =
    "PMBusPowerRC<TeleRC,TeleRCChannel,RT_RC>:ProcotolError {} read 41_43 p is {}, not {}";
const char kOverflow41_44[] = "PMBusPowerAC:ProcotolError {} read 41_44 read overflow {} - {}";
const char kModules41_44[] =
    "PMBusPowerRC<TeleRC,TeleRCChannel,RT_RC>:ProcotolError {} parse p41_44 channel_count not "
    "equal {} != {} ";
const char kCount41_44[] =
    "PMBusPowerRC<TeleRC,TeleRCChannel,RT_RC>:ProcotolError {} read 41_44 p is {}, not {}";
const char kOverflow40_46[] = "PMBusPowerAC:ProcotolError {} read 40_46 read overflow {} - {}";
const char kOverflow42_46[] = "PMBusPowerAC:ProcotolError {} read 42_46 read overflow {} - {}";
const char kCount42_46[] = "TKR07B:ProcotolError parse42_46 {} p:{} != {}";

// An alarm raised once per module: active when the module's state byte holds value; its
// text is textBefore, the module's position from 1, textAfter.
template <class Channel>
struct ModuleRule {
  int level;
  const char* id;
  const char* code;
  const char* name;
  const char* textBefore;
  const char* textAfter;
  uint8_t Channel::*state;
  uint8_t value;
};

template <class Channel>
constexpr ModuleRule<Channel> kModuleRules[] = {
    {2, "RC_0", "06024", "整流模块故障告警", "模块", "整流模块故障告警", &Channel::fault, 1},
};

}  // namespace

template <class TeleRC, class TeleRCChannel, int RT_RC>
float PMBusPowerRC<TeleRC, TeleRCChannel, RT_RC>::Get_Value(unsigned int,
                                                            const std::string&) const {
  CheckFresh();
  throw std::out_of_range("数据未就绪");
}

template <class TeleRC, class TeleRCChannel, int RT_RC>
bool PMBusPowerRC<TeleRC, TeleRCChannel, RT_RC>::InitV(ZelVDevice* parent, unsigned int dataId,
                                                       const Json::Value& settings) {
  record.data_id = dataId;
  return ZelVDevice::InitV(parent, dataId, settings);
}

// The image is the head and then 32 bytes per module; the head's count sizes the channels
// before the channel part is checked.
template <class TeleRC, class TeleRCChannel, int RT_RC>
bool PMBusPowerRC<TeleRC, TeleRCChannel, RT_RC>::LoadFromCache(const unsigned char* data, int len) {
  const int head = static_cast<int>(sizeof(TeleRC));
  std::cout << "rc data_len:" << len << " vs " << head << std::endl;
  if (len < head) return false;
  std::memcpy(&record, data, sizeof(TeleRC));
  channels.resize(record.module_count);
  // The count goes out as the byte itself.
  std::cout << "rc channelLen " << sizeof(TeleRCChannel) << " and "
            << static_cast<char>(record.module_count) << " left:" << len - head << std::endl;
  return LoadChannels(data, len, sizeof(TeleRC), channels);
}

template <class TeleRC, class TeleRCChannel, int RT_RC>
void PMBusPowerRC<TeleRC, TeleRCChannel, RT_RC>::RoundDone() {
  dataReady_ = 1;
  StampRound(record.time_stamp);
  // Sized by the module count of the moment, so a saved image is one a cache load accepts.
  ComposeImage(image, image_size, record, channels);
  PublishRound(
      RT_RC, image.get(), image_size, [this] { BuildRules(); }, [this] { DoImpCheckAlert(); });
}

template <class TeleRC, class TeleRCChannel, int RT_RC>
void PMBusPowerRC<TeleRC, TeleRCChannel, RT_RC>::BuildRules() {
  using Channel = TeleRCChannel;
  const auto& rules = kModuleRules<Channel>;
  static const std::vector<RuleStrings> kStrings = StringsOf(rules);
  constexpr size_t kPerModule = std::size(kModuleRules<Channel>);
  moduleTexts_.Fit(channels.size(), kPerModule, [](size_t k, size_t row) {
    const ModuleRule<Channel>& rule = kModuleRules<Channel>[row];
    return rule.textBefore + boost::lexical_cast<std::string>(k + 1) + rule.textAfter;
  });
  AddInstanceRules(rules, kStrings, moduleTexts_, channels);
}

// < 41/41, n modules
//   [0] flags (the root's)  [1..4] group_analog  [5] n
//   per module, 21 bytes: [0..3] analog  [4] count (4)  [5..20] four user values
template <class TeleRC, class TeleRCChannel, int RT_RC>
int PMBusPowerRC<TeleRC, TeleRCChannel, RT_RC>::parse41_41(const unsigned char* data,
                                                           int remaining) {
  BoundedReader r(data, remaining);
  uint8_t n = 0;
  r.skip(1) && r.f32(record.group_analog) && r.u8(n);
  if (!r.ok()) return Finish(r, kOverflow41_41);
  if (channels.empty()) {
    record.module_count = n;
    channels.resize(n);
  } else if (n != record.module_count) {
    // A module pulled out or added (they are hot-swapped): the group's new structure.
    InfoLog(kModules41_41, DataId(), unsigned{record.module_count}, unsigned{n});
    record.module_count = n;
    channels.resize(n);
  }
  for (TeleRCChannel& ch : channels) {
    if (!(r.f32(ch.analog) && r.u8(ch.user_analog_count))) break;
    if (ch.user_analog_count != TeleRCChannel::P41_41_SIZE()) {
      InfoLog(kCount41_41, DataId(), unsigned{ch.user_analog_count}, TeleRCChannel::P41_41_SIZE());
      if (!r.skip(4u * ch.user_analog_count)) break;
      continue;
    }
    for (LeF32& v : ch.user_analog) r.f32Or(v, 0.0f);  // four equal bytes: not supplied
    if (!r.ok()) return Finish(r, kInChannel41_41);
  }
  return Finish(r, kOverflow41_41);
}

// A module's user-defined bytes after their count byte: read when the count is the expected
// one, otherwise logged and skipped by the count read (the old bytes stay). False when the
// part ends first.
template <class TeleRC, class TeleRCChannel, int RT_RC>
bool PMBusPowerRC<TeleRC, TeleRCChannel, RT_RC>::UserBlock(BoundedReader& r, uint8_t count,
                                                           int expected, unsigned char* block,
                                                           const char* countFormat) const {
  if (count == expected) return r.bytes(block, count);
  InfoLog(countFormat, DataId(), unsigned{count}, expected);
  return r.skip(count);
}

// < 41/43, n modules
//   [0] flags  [1] n  per module, 5 bytes: [0..2] state  [3] count (1)  [4] user_state
template <class TeleRC, class TeleRCChannel, int RT_RC>
int PMBusPowerRC<TeleRC, TeleRCChannel, RT_RC>::parse41_43(const unsigned char* data,
                                                           int remaining) {
  BoundedReader r(data, remaining);
  uint8_t n = 0;
  r.skip(1) && r.u8(n);
  if (!r.ok()) return Finish(r, kOverflow41_43);
  if (n > record.module_count || n > channels.size()) return -1;
  for (size_t i = 0; i < n; ++i) {
    TeleRCChannel& ch = channels[i];
    if (!(r.bytes(ch.state, sizeof ch.state) && r.u8(ch.user_state_count) &&
          UserBlock(r, ch.user_state_count, TeleRCChannel::P41_43_SIZE(), ch.user_state,
                    kCount41_43)))
      break;
  }
  return Finish(r, kOverflow41_43);
}

// < 41/44, n modules
//   [0] flags  [1] n  per module, 6 bytes: [0] fault  [1] count (4)  [2..5] user_alarm
template <class TeleRC, class TeleRCChannel, int RT_RC>
int PMBusPowerRC<TeleRC, TeleRCChannel, RT_RC>::parse41_44(const unsigned char* data,
                                                           int remaining) {
  BoundedReader r(data, remaining);
  uint8_t n = 0;
  r.skip(1) && r.u8(n);
  if (!r.ok()) return Finish(r, kOverflow41_44);
  if (n > record.module_count || n > channels.size()) {
    InfoLog(kModules41_44, DataId(), int{n}, unsigned{record.module_count});
    return 0;  // the root takes a part that does not fill the reply as an error
  }
  for (size_t i = 0; i < n; ++i) {
    TeleRCChannel& ch = channels[i];
    if (!(r.u8(ch.fault) && r.u8(ch.user_alarm_count) &&
          UserBlock(r, ch.user_alarm_count, TeleRCChannel::P41_44_SIZE(), ch.user_alarm,
                    kCount41_44)))
      break;
  }
  return Finish(r, kOverflow41_44);
}

// < 40/46
//   [0..19] ac_param, five values  [20] m  then m user-defined values, not kept
template <class TeleRC, class TeleRCChannel, int RT_RC>
int PMBusPowerRC<TeleRC, TeleRCChannel, RT_RC>::parse40_46(const unsigned char* data,
                                                           int remaining) {
  BoundedReader r(data, remaining);
  for (LeF32& v : record.ac_param) r.f32(v);
  uint8_t m = 0;
  r.u8(m);
  // The user-defined values are skipped unread; the root checks the part against the reply.
  if (r.ok() && m != 0) return r.needed() + 4 * m;
  return Finish(r, kOverflow40_46);
}

// < 42/46
//   [0..7] dc_param, two values  [8] count (5)  [9..28] user-defined values
template <class TeleRC, class TeleRCChannel, int RT_RC>
int PMBusPowerRC<TeleRC, TeleRCChannel, RT_RC>::parse42_46(const unsigned char* data,
                                                           int remaining) {
  BoundedReader r(data, remaining);
  for (LeF32& v : record.dc_param) r.f32(v);
  r.u8(record.dc_user_param_count);
  if (!r.ok()) return Finish(r, kOverflow42_46);
  const int count = record.dc_user_param_count;
  if (count != TeleRC::P42_46_NUMBER()) {
    InfoLog(kCount42_46, DataId(), count, TeleRC::P42_46_NUMBER());
    return r.needed() + 4 * count;  // unread; the root checks the part against the reply
  }
  // As many of the user-defined bytes as the reply holds.
  const size_t size = TeleRC::P42_46_SIZE();
  r.bytes(record.dc_user_param, r.left() < size ? r.left() : size);
  return r.needed();
}

template class PMBusPowerRC<tele_c_rvt2600_rc, tele_c_rvt2600_rc_channel, 5107>;
