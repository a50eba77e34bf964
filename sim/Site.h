#pragma once

#include <json/value.h>

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// The state of a simulated power system at one moment: what its replies report.
namespace sim {

// A 4-byte value group as it goes on the line, least significant byte first.
struct Word {
  // How the group's eight characters are written: hex digits, or blanks (blank fill, which the
  // master reads as 20 20 20 20), or as the site writes its not-available values.
  enum class Wire : uint8_t { Hex, Blanks, AsSite };

  std::array<uint8_t, 4> bytes{};
  Wire wire = Wire::Hex;

  static Word Float(float value);
  // The not-available marker: four equal non-zero bytes.
  static Word NotAvailable(uint8_t fill = 0x20);
  // The not-available marker as blank fill: eight blanks on the line.
  static Word Blank();
  // Equal when the master reads the same bytes, however they were written.
  bool operator==(const Word& o) const { return bytes == o.bytes; }
};

struct AcChannel {
  Word a, b, c, f;                  // line/phase voltages and frequency
  std::vector<Word> userValues;     // user-defined analog values
  std::array<uint8_t, 4> alerts{};  // alarm states of a, b, c, f
  std::vector<uint8_t> alarmExtra;  // the m bytes of the alarm reply
  std::vector<uint8_t> userAlerts = std::vector<uint8_t>(8, 0);  // user-defined alarm states
};

struct AcUnit {
  std::vector<AcChannel> channels;
  Word ia, ib, ic;
  std::array<uint8_t, 3> alerts{};  // alarm states of ia, ib, ic
  std::vector<uint8_t> airlocks;
  std::vector<uint8_t> switches = std::vector<uint8_t>(3, 0);
};

struct RcModule {
  Word analog;
  std::vector<Word> userValues = std::vector<Word>(4);
  std::array<uint8_t, 3> states{};
  std::vector<uint8_t> userStates = std::vector<uint8_t>(1, 0);
  uint8_t fault = 0;
  std::vector<uint8_t> userAlarms = std::vector<uint8_t>(4, 0);
};

struct Rectifiers {
  Word group;
  std::vector<RcModule> modules;
};

struct DcUnit {
  Word v, i;
  std::vector<Word> m, n, p;
  uint8_t vState = 0;
  std::vector<uint8_t> fuses = std::vector<uint8_t>(64, 0);
  std::vector<uint8_t> userAlarms;
};

// A change flag setting: computed from what changed since the last reply of that kind was
// sent, or a fixed byte.
struct FlagSetting {
  bool automatic = true;
  uint8_t value = 0;
};

struct Site {
  uint8_t version = 0x20;
  uint8_t address = 1;
  std::array<uint8_t, 20> model{};  // the model field, blank-filled
  // Not-available values given as "na" are written as blanks instead of hex digits.
  bool blankFill = false;
  FlagSetting acFlags, rcFlags, dcFlags;
  std::vector<AcUnit> ac;
  Rectifiers rc;
  std::vector<DcUnit> dc;
  std::array<Word, 5> acParam{};
  std::vector<Word> acUserParam;
  std::array<Word, 2> dcParam{};
  std::vector<Word> dcUserParam = std::vector<Word>(5);
};

class ScenarioError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Builds a site from its JSON description; throws ScenarioError naming the path at fault.
Site SiteFromJson(const Json::Value& json);

}  // namespace sim
