// The record decoder: on the images the plugin publishes for the reference site, field by field
// against the scenario, and on hand-made images laid out under a byte ruler.
#include "Decoder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "Bench.h"
#include "Clock.h"
#include "SoakKit.h"

namespace {

std::vector<uint8_t> Hex(std::string hex) {
  std::string digits;
  for (char c : hex)
    if (c != ' ') digits += c;
  std::vector<uint8_t> out;
  for (size_t k = 0; k + 1 < digits.size(); k += 2)
    out.push_back(static_cast<uint8_t>(std::stoul(digits.substr(k, 2), nullptr, 16)));
  return out;
}

using Fields = std::map<std::string, zel::FieldValue>;

float F(const sim::Word& w) {
  float f;
  std::memcpy(&f, w.bytes.data(), 4);
  return f;
}

bool Marker(const sim::Word& w) {
  const auto& b = w.bytes;
  return b[0] != 0 && b[0] == b[1] && b[1] == b[2] && b[2] == b[3];
}

float Or(const sim::Word& w, float substitute) {
  return Marker(w) ? substitute : F(w);
}

void Array(Fields& out, const std::string& name, const std::vector<uint8_t>& bytes) {
  for (size_t k = 0; k < bytes.size(); ++k)
    out[name + "_" + std::to_string(k + 1)] = uint32_t{bytes[k]};
}

// What each unit's image must hold for a site, from the scenario's own values.
Fields AcExpected(const sim::AcUnit& u, const std::string& stamp) {
  Fields f{{"data_id", uint32_t{soak::kAcId}},
           {"ia", Or(u.ia, -0.1f)},
           {"ib", Or(u.ib, -0.1f)},
           {"ic", Or(u.ic, -0.1f)},
           {"channel_count", uint32_t(u.channels.size())},
           {"airlock_count", uint32_t{0}},
           {"p40_43_count", uint32_t{3}},
           {"ia_alert", uint32_t{u.alerts[0]}},
           {"ib_alert", uint32_t{u.alerts[1]}},
           {"ic_alert", uint32_t{u.alerts[2]}},
           {"time_stamp", stamp}};
  Array(f, "p40_43", u.switches);
  for (size_t k = 0; k < u.channels.size(); ++k) {
    const sim::AcChannel& c = u.channels[k];
    const std::string p = "channel_" + std::to_string(k + 1) + "_";
    f[p + "a"] = Or(c.a, 0.0f);
    f[p + "b"] = Or(c.b, 0.0f);
    f[p + "c"] = Or(c.c, 0.0f);
    f[p + "f"] = Or(c.f, 0.0f);
    f[p + "p40_41_count"] = uint32_t{0};
    f[p + "a_alert"] = uint32_t{c.alerts[0]};
    f[p + "b_alert"] = uint32_t{c.alerts[1]};
    f[p + "c_alert"] = uint32_t{c.alerts[2]};
    f[p + "f_alert"] = uint32_t{c.alerts[3]};
    f[p + "p40_44_count"] = uint32_t{8};
    Array(f, p + "p40_44", c.userAlerts);
  }
  return f;
}

Fields RcExpected(const sim::Site& s, const std::string& stamp) {
  Fields f{{"data_id", uint32_t{soak::kRootId}},
           {"dc_user_param_count", uint32_t{5}},
           {"group_analog", F(s.rc.group)},
           {"module_count", uint32_t(s.rc.modules.size())},
           {"time_stamp", stamp}};
  for (size_t k = 0; k < 5; ++k) f["ac_param_" + std::to_string(k + 1)] = F(s.acParam[k]);
  for (size_t k = 0; k < 2; ++k) f["dc_param_" + std::to_string(k + 1)] = F(s.dcParam[k]);
  for (size_t k = 0; k < 5; ++k) f["dc_user_param_" + std::to_string(k + 1)] = F(s.dcUserParam[k]);
  for (size_t k = 0; k < s.rc.modules.size(); ++k) {
    const sim::RcModule& m = s.rc.modules[k];
    const std::string p = "module_" + std::to_string(k + 1) + "_";
    f[p + "analog"] = F(m.analog);
    f[p + "user_analog_count"] = uint32_t{4};
    for (size_t v = 0; v < 4; ++v) {
      const auto& b = m.userValues[v].bytes;
      const bool equal = b[0] == b[1] && b[1] == b[2] && b[2] == b[3];
      f[p + "user_analog_" + std::to_string(v + 1)] = equal ? 0.0f : F(m.userValues[v]);
    }
    Array(f, p + "state", {m.states.begin(), m.states.end()});
    f[p + "user_state_count"] = uint32_t{1};
    f[p + "user_state"] = uint32_t{m.userStates[0]};
    f[p + "fault"] = uint32_t{m.fault};
    f[p + "user_alarm_count"] = uint32_t{4};
    Array(f, p + "user_alarm", m.userAlarms);
  }
  return f;
}

Fields DcExpected(const sim::DcUnit& u, const std::string& stamp) {
  Fields f{{"data_id", uint32_t{soak::kDcId}},
           {"v", F(u.v)},
           {"i", F(u.i)},
           {"dc_m", uint32_t(u.m.size())},
           {"dc_n", uint32_t(u.n.size())},
           {"p_count", uint32_t(u.p.size())},
           {"v_state", uint32_t{u.vState}},
           {"alert_m_count", uint32_t(u.fuses.size())},
           {"alert_p_count", uint32_t(u.userAlarms.size())},
           {"time_stamp", stamp}};
  for (size_t k = 0; k < u.m.size(); ++k) f["m_value_" + std::to_string(k + 1)] = F(u.m[k]);
  for (size_t k = 0; k < u.n.size(); ++k) f["n_value_" + std::to_string(k + 1)] = F(u.n[k]);
  for (size_t k = 0; k < u.p.size(); ++k) f["user_p_" + std::to_string(k + 1)] = Or(u.p[k], -0.1f);
  Array(f, "alert_m", u.fuses);
  Array(f, "alert_p", u.userAlarms);
  return f;
}

// Every decoded field equal to the expected one, and nothing missing or extra.
void ExpectFields(const zel::Decoded& d, const Fields& expected, const std::string& where) {
  EXPECT_EQ(d.fields.size(), expected.size()) << where;
  for (const auto& [name, value] : d.fields) {
    const auto it = expected.find(name);
    if (it == expected.end()) {
      ADD_FAILURE() << where << ": unexpected field " << name;
      continue;
    }
    EXPECT_EQ(zel::Text(value), zel::Text(it->second)) << where << ": " << name;
    EXPECT_EQ(value.index(), it->second.index()) << where << ": type of " << name;
  }
}

// The reference site polled in this process; the rig's history keeps each unit's newest image.
class Site : public soak::InProcessRig {
 public:
  Site() : InProcessRig(soak::LoadScenario(soak::ReferenceScenario(), sim::LineNoise{})) {}
  std::vector<uint8_t> Newest(unsigned id) { return *controller_->History().Newest(id); }
  const sim::Site& Now() const { return scenario_.SiteAt(SimRound()); }
};

TEST(Decoder, ThePluginsImagesOfTheReferenceSiteHoldTheScenariosValues) {
  zel::HostClock::UseVirtual(boost::posix_time::ptime(boost::gregorian::date(2026, 1, 1)));
  Site site;
  unsigned checked = 0;
  // Eight rounds: the site's whole cycle of states (fuse faults, alarms, module faults).
  ASSERT_TRUE(site.RunTo(8, [&](uint64_t round) {
    const TTime t = get_ttime(zel::HostClock::Now());
    char s[32];
    std::snprintf(s, sizeof s, "%04u-%02u-%02uT%02u:%02u:%02u", t.bytes[0] | t.bytes[1] << 8,
                  t.bytes[2], t.bytes[3], t.bytes[4], t.bytes[5], t.bytes[6]);
    const sim::Site& now = site.Now();
    const std::string where = "round " + std::to_string(round);
    struct Unit {
      unsigned id;
      int type;
      Fields expected;
    };
    for (const Unit& u : {Unit{soak::kAcId, 5106, AcExpected(now.ac[0], s)},
                          Unit{soak::kRootId, 5107, RcExpected(now, s)},
                          Unit{soak::kDcId, 5108, DcExpected(now.dc[0], s)}}) {
      const std::vector<uint8_t> image = site.Newest(u.id);
      EXPECT_EQ(zel::DataTypeOf(image), u.type) << where;
      std::string error;
      const auto d = zel::Decode(u.type, image, error);
      ASSERT_TRUE(d) << where << ": " << error;
      ExpectFields(*d, u.expected, where + ", " + std::to_string(u.type));
      ++checked;
    }
  })) << site.why();
  EXPECT_EQ(checked, 24u);
}

struct Ruled {
  int type;
  std::string hex;
  Fields some;  // fields whose bytes stand out under the ruler
};

// 1.5 = 0000C03F, 2.5 = 00002040, 3.5 = 00006040, 230 = 00006643, 231 = 00006743,
// 232 = 00006843, 50 = 00004842, -0.1 = CDCCCCBD; stamp EA07 01 02 03 04 05 = 2026-01-02T03:04:05.
const std::vector<Ruled>& RuledImages() {
  static const std::vector<Ruled> table = {
      {5106,
       // data_id  ia       ib       ic       n  m  p  sw     alerts time_stamp
       // 0        4        8        12       16 17 18 19     22     25
       "65000000 0000C03F 00002040 00006040 01 00 03 0A0B0C 010203 EA070102030405"
       // channel 1 at 32: a b c f p alerts p p40_44
       // 32       36       40       44       48 49       53 54
       "00006643 00006743 00006843 00004842 00 04050607 08 1112131415161718",
       {{"data_id", uint32_t{101}},
        {"ia", 1.5f},
        {"ib", 2.5f},
        {"ic", 3.5f},
        {"channel_count", uint32_t{1}},
        {"p40_43_count", uint32_t{3}},
        {"p40_43_1", uint32_t{10}},
        {"p40_43_3", uint32_t{12}},
        {"ic_alert", uint32_t{3}},
        {"time_stamp", std::string("2026-01-02T03:04:05")},
        {"channel_1_a", 230.0f},
        {"channel_1_f", 50.0f},
        {"channel_1_p40_41_count", uint32_t{0}},
        {"channel_1_a_alert", uint32_t{4}},
        {"channel_1_f_alert", uint32_t{7}},
        {"channel_1_p40_44_count", uint32_t{8}},
        {"channel_1_p40_44_1", uint32_t{0x11}},
        {"channel_1_p40_44_8", uint32_t{0x18}}}},
      {5107,
       // data_id  ac_param (5)                             dc_param (2)
       // 0        4                                        24
       "64000000 0000C03F 00002040 00006040 00006643 00006743 00006843 00004842"
       // n  dc_user_param (5)                          group    n  time_stamp
       // 32 33                                         53       57 58
       "05 CDCCCCBD 0000C03F 00002040 00006040 00006643 00004842 01 EA070102030405"
       // module 1 at 65: analog n user_analog (4) state n us fault n user_alarm
       // 65       69 70                                  86     89 90 91 92 93
       "00006843 04 0000C03F 00002040 00006040 00000000 010203 01 09 01 04 0A0B0C0D",
       {{"data_id", uint32_t{100}},
        {"ac_param_1", 1.5f},
        {"ac_param_5", 231.0f},
        {"dc_param_1", 232.0f},
        {"dc_param_2", 50.0f},
        {"dc_user_param_count", uint32_t{5}},
        {"dc_user_param_1", -0.1f},
        {"dc_user_param_5", 230.0f},
        {"group_analog", 50.0f},
        {"module_count", uint32_t{1}},
        {"time_stamp", std::string("2026-01-02T03:04:05")},
        {"module_1_analog", 232.0f},
        {"module_1_user_analog_count", uint32_t{4}},
        {"module_1_user_analog_3", 3.5f},
        {"module_1_state_3", uint32_t{3}},
        {"module_1_user_state", uint32_t{9}},
        {"module_1_fault", uint32_t{1}},
        {"module_1_user_alarm_count", uint32_t{4}},
        {"module_1_user_alarm_4", uint32_t{0x0D}}}},
      {5108,
       // data_id  v        i        m  m_value (4)
       // 0        4        8        12 13
       "66000000 00006643 0000C03F 04 00002040 00006040 00006743 00006843"
       // n  n_value (9) from 30
       // 29
       "09 01000000 02000000 03000000 04000000 05000000 06000000 07000000 08000000 00004842"
       // p  user_p (3)                 vs a
       // 66 67                         79 80
       "03 CDCCCCBD 0000C03F 00002040 02 40"
       // alert_m (64) from 81: fuse 1 is 3, fuse 64 is 3
       "03000000000000000000000000000000 00000000000000000000000000000000"
       "00000000000000000000000000000000 00000000000000000000000000000003"
       // q   alert_p (13) from 146              time_stamp at 159
       // 145 146
       "0D 01020304050607080910111213 EA070102030405",
       {{"data_id", uint32_t{102}},
        {"v", 230.0f},
        {"i", 1.5f},
        {"dc_m", uint32_t{4}},
        {"m_value_1", 2.5f},
        {"m_value_4", 232.0f},
        {"dc_n", uint32_t{9}},
        {"n_value_9", 50.0f},
        {"p_count", uint32_t{3}},
        {"user_p_1", -0.1f},
        {"user_p_3", 2.5f},
        {"v_state", uint32_t{2}},
        {"alert_m_count", uint32_t{64}},
        {"alert_m_1", uint32_t{3}},
        {"alert_m_2", uint32_t{0}},
        {"alert_m_64", uint32_t{3}},
        {"alert_p_count", uint32_t{13}},
        {"alert_p_1", uint32_t{1}},
        {"alert_p_13", uint32_t{0x13}},
        {"time_stamp", std::string("2026-01-02T03:04:05")}}},
  };
  return table;
}

TEST(Decoder, HandMadeImagesUnderAByteRuler) {
  for (const Ruled& r : RuledImages()) {
    const std::vector<uint8_t> image = Hex(r.hex);
    const std::string where = std::to_string(r.type);
    EXPECT_EQ(zel::DataTypeOf(image), r.type) << where;
    std::string error;
    const auto d = zel::Decode(r.type, image, error);
    ASSERT_TRUE(d) << where << ": " << error;
    EXPECT_EQ(d->fields.size(), zel::Columns(*d->layout, d->repeats).size()) << where;
    for (const auto& [name, value] : r.some) {
      const zel::FieldValue* got = d->Find(name);
      ASSERT_NE(got, nullptr) << where << ": " << name;
      EXPECT_EQ(zel::Text(*got), zel::Text(value)) << where << ": " << name;
    }
  }
}

// A float's text is the fewest digits that read back as the same float: fixed strings, so
// that a text one digit short (another float) or one digit long shows.
TEST(Decoder, FloatTextReadsBackTheSameFloat) {
  const struct {
    uint32_t bits;
    const char* text;
  } cases[] = {
      {0x4130000B, "11.0000105"},  // eight digits, 11.00001, are another float
      {0x41333333, "11.2"},       {0x3DCCCCCD, "0.1"},      {0xBDCCCCCD, "-0.1"},
      {0x3F800000, "1"},          {0x4B800001, "16777218"}, {0x7F7FFFFF, "3.4028235e+38"},
  };
  for (const auto& c : cases) {
    float f = 0;
    std::memcpy(&f, &c.bits, sizeof f);
    EXPECT_EQ(zel::Text(zel::FieldValue(f)), c.text) << std::hex << c.bits;
  }
}

TEST(Decoder, RefusesImagesThatDoNotFitTheirLayout) {
  const auto& ruled = RuledImages();
  struct Case {
    int type;
    std::vector<uint8_t> image;
    std::string error;
  };
  std::vector<uint8_t> ac = Hex(ruled[0].hex);
  std::vector<uint8_t> twoChannels = ac;
  twoChannels[16] = 2;  // the head claims a channel the image does not carry
  std::vector<uint8_t> dcLong = Hex(ruled[2].hex);
  dcLong.push_back(0);
  const std::vector<Case> cases = {
      {5106, {ac.begin(), ac.end() - 1}, "image of 61 bytes, a 5106 image with 1 channels has 62"},
      {5106, {ac.begin(), ac.begin() + 31}, "image of 31 bytes, a 5106 image needs at least 32"},
      {5106, twoChannels, "image of 62 bytes, a 5106 image with 2 channels has 92"},
      {5107, {}, "image of 0 bytes, a 5107 image needs at least 65"},
      {5108, dcLong, "image of 167 bytes, a 5108 image has 166"},
      {5109, ac, "no layout for data type 5109"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(zel::Decode(c.type, c.image, error));
    EXPECT_EQ(error, c.error);
    if (c.type != 5109) {
      EXPECT_EQ(zel::DataTypeOf(c.image), 0) << c.error;
    }
  }
}

}  // namespace
