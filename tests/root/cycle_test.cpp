// The polling cycle: paths of a round, failures row by row, the 2-second check and the model
// check, through the stand-in host on the virtual clock.
#include <cstring>

#include "CycleKit.h"

namespace {

using rvt_test::Answers;
using rvt_test::CycleTest;
using rvt_test::FakeKit;
using rvt_test::FakeUnit;
using rvt_test::RealKit;
using rvt_test::Repeat;

std::vector<std::string> Split(const std::string& words) {
  std::vector<std::string> out;
  size_t k = 0;
  while (k < words.size()) {
    const size_t end = std::min(words.find(' ', k), words.size());
    if (end > k) out.push_back(words.substr(k, end - k));
    k = end + 1;
  }
  return out;
}

// ---- Paths of a round, with fake units and with the real ones ----

struct RoundPath {
  const char* name;
  size_t ac;
  size_t dc;
  uint8_t dataReady;
  Answers flags;
  uint8_t version;
  const char* requests;  // after the model query
};

const RoundPath kRoundPaths[] = {
    {"data not ready: every request",
     2,
     3,
     0,
     {},
     0x20,
     "4041FF 4043FF 4044FF 4141 4143 4144 4241 4244 4046 4246"},
    {"version 0x21: DC requests carry FF",
     1,
     1,
     0,
     {},
     0x21,
     "4041FF 4043FF 4044FF 4141 4143 4144 4241FF 4244FF 4046 4246"},
    {"ready, no flags", 2, 3, 1, {}, 0x20, "4041FF 4141 4241 4046 4246"},
    {"ready, other flag bits ask nothing",
     1,
     1,
     1,
     {0xEE, 0xEE, 0xEE},
     0x20,
     "4041FF 4141 4241 4046 4246"},
    {"ready, AC switch changed", 1, 1, 1, {0x10, 0, 0}, 0x20, "4041FF 4043FF 4141 4241 4046 4246"},
    {"ready, AC alarm changed", 1, 1, 1, {0x01, 0, 0}, 0x20, "4041FF 4044FF 4141 4241 4046 4246"},
    {"ready, AC both changed",
     1,
     1,
     1,
     {0x11, 0, 0},
     0x20,
     "4041FF 4043FF 4044FF 4141 4241 4046 4246"},
    {"ready, rectifier switch changed",
     1,
     1,
     1,
     {0, 0x10, 0},
     0x20,
     "4041FF 4141 4143 4241 4046 4246"},
    {"ready, rectifier alarm changed",
     1,
     1,
     1,
     {0, 0x01, 0},
     0x20,
     "4041FF 4141 4144 4241 4046 4246"},
    {"ready, rectifier both changed",
     1,
     1,
     1,
     {0, 0x11, 0},
     0x20,
     "4041FF 4141 4143 4144 4241 4046 4246"},
    {"ready, DC switch bit", 1, 1, 1, {0, 0, 0x10}, 0x20, "4041FF 4141 4241 4244 4046 4246"},
    {"ready, DC alarm bit", 1, 1, 1, {0, 0, 0x01}, 0x20, "4041FF 4141 4241 4244 4046 4246"},
    {"no AC units", 0, 2, 0, {}, 0x20, "4141 4143 4144 4241 4244 4246"},
    {"no AC units, ready, DC alarm", 0, 1, 1, {0, 0, 0x01}, 0x20, "4141 4241 4244 4246"},
    {"no AC units, ready, no flags", 0, 1, 1, {}, 0x20, "4141 4241 4246"},
    {"no DC units", 2, 0, 0, {}, 0x20, "4041FF 4043FF 4044FF 4141 4143 4144"},
    {"no AC or DC units, ready", 0, 0, 1, {}, 0x20, "4141"},
};

template <class Kit>
class RoundPathTest : public CycleTest<Kit> {};
using Kits = ::testing::Types<FakeKit, RealKit>;
TYPED_TEST_SUITE(RoundPathTest, Kits);

TYPED_TEST(RoundPathTest, RequestsRoundDoneOrderAndOneReset) {
  for (const RoundPath& row : kRoundPaths) {
    SCOPED_TRACE(row.name);
    this->bench.controller->ClearJournal();
    this->requestsSeen = 0;
    this->Configure(row.ac, row.dc);
    this->root->dataReady_ = row.dataReady;
    this->root->protocolVersion_ = row.version;
    this->answers = row.flags;
    this->PassModelCheck();
    const std::vector<int> results = this->FinishRound();
    std::vector<int> expectedResults(results.size(), 1);
    expectedResults.back() = 0;
    EXPECT_EQ(results, expectedResults);
    std::vector<std::string> requests = this->NewRequests();
    ASSERT_EQ(requests.front(), "4051");
    requests.erase(requests.begin());
    EXPECT_EQ(requests, Split(row.requests));

    std::vector<unsigned> order;
    for (size_t k = 0; k < row.ac; ++k) order.push_back(11 + static_cast<unsigned>(k));
    for (size_t k = 0; k < row.dc; ++k) order.push_back(21 + static_cast<unsigned>(k));
    order.push_back(this->kRootId);  // the rectifier unit carries the root's id
    EXPECT_EQ(this->Publishers(), order);
    EXPECT_EQ(this->Resets(), 1u);
    EXPECT_EQ(this->root->step_, 0u);
    EXPECT_TRUE(this->Logs().empty());

    // The next round begins two seconds later with the same first request, no model query.
    this->Advance(2);
    this->root->dataReady_ = row.dataReady;
    EXPECT_TRUE(this->root->RefreshStatus());
    EXPECT_EQ(this->NewRequests(), std::vector<std::string>{requests.front()});
  }
}

// ---- Failures, with fake units ----

class FakeCycle : public CycleTest<FakeKit> {
 protected:
  FakeUnit& Unit(const std::string& name) {
    const size_t k = static_cast<size_t>(name[2] - '1');
    if (name.rfind("ac", 0) == 0) return *root->acUnits_.at(k);
    if (name.rfind("dc", 0) == 0) return *root->dcUnits_.at(k);
    return *root->rcUnit_;
  }
  // Units of the same kind after the named one; none for a row that names no unit.
  std::vector<FakeUnit*> UnitsAfter(const std::string& name) {
    std::vector<FakeUnit*> out;
    if (name.size() < 3) return out;
    const size_t k = static_cast<size_t>(name[2] - '1');
    if (name.rfind("ac", 0) == 0)
      for (size_t j = k + 1; j < root->acUnits_.size(); ++j) out.push_back(root->acUnits_[j].get());
    if (name.rfind("dc", 0) == 0)
      for (size_t j = k + 1; j < root->dcUnits_.size(); ++j) out.push_back(root->dcUnits_[j].get());
    return out;
  }
};

enum class Twist { None, Refuse, OneShort, OneOver };

struct FailureRow {
  const char* name;
  const char* at;    // the outstanding request
  int group;         // reply command group, or -1 for the request's
  const char* info;  // INFO hex, or nullptr for the regular reply followed by `extra`
  const char* extra;
  const char* unit;  // the unit whose answer is twisted: "ac2", "dc3", "rc" or ""
  Twist twist;
  const char* log;  // the root's line, or ""
  int result;
  const char* next;  // the next request, or ""
  uint32_t stepAfter;
  bool reset;
  int acFlags = -1;  // acFlags_ after the reply (0 before it), or -1 for not looked at
};

// Two AC units, three DC units, data not ready, root data id 1.
const FailureRow kFailures[] = {
    {"wrong group at the first step", "4041", 0x41, nullptr, "", "", Twist::None, "", 0, "", 0,
     true},
    {"wrong group later", "4141", 0x40, nullptr, "", "", Twist::None, "", 1, "", 4, false},
    // The host restarts a parameter step that sent nothing.
    {"wrong group at DC parameters", "4246", 0x41, nullptr, "", "", Twist::None, "", 1, "", 0,
     true},
    {"AC count differs", "4041", -1, "0003", "", "", Twist::None,
     "PMBusPower:ProcotolError 1 read ac_number is 3, configured ac_number is 2", 0, "", 0, true},
    {"DC count differs, analog", "4241", -1, "0002", "", "", Twist::None,
     "PMBusPower:ProcotolError 1 read dc_number is 2, configured dc_number is 3", 1, "", 7, false},
    {"DC count differs, alarm", "4244", -1, "0004", "", "", Twist::None,
     "PMBusPower:ProcotolError 1 read dc_number is 4, configured dc_number is 3", 1, "", 8, false},
    {"AC unit refuses analog part", "4041", -1, nullptr, "", "ac2", Twist::Refuse, "", 1, "", 0,
     false},
    {"AC unit refuses switch part", "4043", -1, nullptr, "", "ac1", Twist::Refuse, "", 1, "", 1,
     false},
    {"AC unit refuses alarm part", "4044", -1, nullptr, "", "ac2", Twist::Refuse, "", 1, "", 2,
     false},
    {"DC unit refuses analog part", "4241", -1, nullptr, "", "dc2", Twist::Refuse, "", 1, "", 7,
     false},
    {"DC unit refuses alarm part", "4244", -1, nullptr, "", "dc1", Twist::Refuse, "", 1, "", 8,
     false},
    {"rectifier refuses AC parameters", "4046", -1, nullptr, "", "rc", Twist::Refuse, "", 1, "", 0,
     true},
    {"rectifier refuses DC parameters", "4246", -1, nullptr, "", "rc", Twist::Refuse, "", 1, "", 0,
     true},
    {"AC analog parts leave a byte", "4041", -1, nullptr, "00", "", Twist::None,
     "PMBusPower:ProcotolError 1 parse 40_41 overflow memory boundary", 1, "", 0, false},
    {"AC analog parts overrun", "4041", -1, nullptr, "", "ac2", Twist::OneOver,
     "PMBusPower:ProcotolError 1 parse 40_41 overflow memory boundary", 1, "", 0, false},
    {"AC switch parts leave a byte", "4043", -1, nullptr, "00", "", Twist::None,
     "PMBusPower:ProcotolError 1 parse 40_43 overflow memory boundary", 1, "", 1, false},
    {"AC alarm parts leave a byte", "4044", -1, nullptr, "00", "", Twist::None, "", 1, "", 2,
     false},
    {"rectifier analog one byte short", "4141", -1, nullptr, "", "rc", Twist::OneShort,
     "PMBusPower:ProcotolError 1 parse p41_41 overflow memory boundary", 1, "", 4, false},
    {"rectifier refuses switch reply", "4143", -1, nullptr, "", "rc", Twist::Refuse,
     "PMBusPower:ProcotolError 1 parse p41_43 overflow memory boundary", 1, "", 5, false},
    {"rectifier alarm one byte over", "4144", -1, nullptr, "", "rc", Twist::OneOver,
     "PMBusPower:ProcotolError 1 parse p41_44 overflow memory boundary", 1, "", 6, false},
    {"DC analog parts overrun", "4241", -1, nullptr, "", "dc3", Twist::OneOver,
     "PMBusPower:ProcotolError 1 parse 42_41 overflow memory boundary", 1, "4244", 8, false},
    {"DC unit overruns before the last", "4241", -1, nullptr, "", "dc2", Twist::OneOver,
     "PMBusPower:ProcotolError 1 parse 42_41 overflow memory boundary", 1, "4244", 8, false},
    {"DC analog parts leave a byte", "4241", -1, nullptr, "00", "", Twist::None, "", 1, "4244", 8,
     false},
    {"DC alarm parts overrun", "4244", -1, nullptr, "", "dc3", Twist::OneOver,
     "PMBusPower:ProcotolError 1 parse 42_44 overflow memory boundary", 1, "4046", 3, false},
    {"AC parameters overrun", "4046", -1, nullptr, "", "rc", Twist::OneOver,
     "PMBusPower:ProcotolError 1 parse 40_46 overflow memory boundary", 1, "4246", 9, false},
    {"DC parameters overrun: the round still ends", "4246", -1, nullptr, "", "rc", Twist::OneOver,
     "PMBusPower:ProcotolError 1 parse 42_46 overflow memory boundary", 0, "", 0, true},
    // Replies too short for the bytes a step reads before cutting: dropped, with the step's
    // line (none at the AC alarm step, as for its other drops); the flags stay as they were.
    {"first reply without a count", "4041", -1, "11", "", "", Twist::None,
     "PMBusPower:ProcotolError 1 parse 40_41 overflow memory boundary", 0, "", 0, true, 0},
    {"empty first reply", "4041", -1, "", "", "", Twist::None,
     "PMBusPower:ProcotolError 1 parse 40_41 overflow memory boundary", 0, "", 0, true, 0},
    {"AC alarm reply of one byte", "4044", -1, "00", "", "", Twist::None, "", 1, "", 2, false},
    {"empty rectifier analog reply", "4141", -1, "", "", "", Twist::None,
     "PMBusPower:ProcotolError 1 parse p41_41 overflow memory boundary", 1, "", 4, false},
    {"empty rectifier switch reply", "4143", -1, "", "", "", Twist::None,
     "PMBusPower:ProcotolError 1 parse p41_43 overflow memory boundary", 1, "", 5, false},
    {"empty rectifier alarm reply", "4144", -1, "", "", "", Twist::None,
     "PMBusPower:ProcotolError 1 parse p41_44 overflow memory boundary", 1, "", 6, false},
    {"DC analog reply of one byte", "4241", -1, "10", "", "", Twist::None,
     "PMBusPower:ProcotolError 1 parse 42_41 overflow memory boundary", 1, "", 7, false},
    {"DC alarm reply of one byte", "4244", -1, "00", "", "", Twist::None,
     "PMBusPower:ProcotolError 1 parse 42_44 overflow memory boundary", 1, "", 8, false},
    // A switch-state reply of no more than two bytes carries no parts and moves on.
    {"AC switch reply of two bytes", "4043", -1, "0002", "", "", Twist::None, "", 1, "4044FF", 2,
     false},
    {"AC switch reply of one byte", "4043", -1, "00", "", "", Twist::None, "", 1, "4044FF", 2,
     false},
};

TEST_F(FakeCycle, FailuresRowByRow) {
  for (const FailureRow& row : kFailures) {
    SCOPED_TRACE(row.name);
    Configure(2, 3);
    PassModelCheck();
    AdvanceTo(row.at);
    if (row.twist != Twist::None) {
      const Twist twist = row.twist;
      Unit(row.unit).script = [twist](const std::string&, int remaining) {
        return twist == Twist::Refuse     ? -1
               : twist == Twist::OneShort ? remaining - 1
                                          : remaining + 1;
      };
    }
    const std::vector<FakeUnit*> later = UnitsAfter(row.unit);
    for (FakeUnit* unit : later) unit->seen.clear();
    const zel::Event req = LastRequest();
    bench.controller->ClearJournal();
    requestsSeen = 0;
    const uint64_t pauses = zel::HostClock::PauseCount();

    const unsigned char group = row.group < 0 ? req.cid1 : static_cast<unsigned char>(row.group);
    const std::string info =
        row.info != nullptr
            ? row.info
            : rvt_test::ReplyInfo(req.cid1, req.cid2, acCount, dcCount, answers) + row.extra;
    EXPECT_EQ(bench.Reply(*root, group, info), row.result);

    EXPECT_EQ(Logs(), row.log[0] ? std::vector<std::string>{row.log} : std::vector<std::string>{});
    EXPECT_EQ(NewRequests(), row.next[0] ? Split(row.next) : std::vector<std::string>{});
    EXPECT_EQ(root->step_, row.stepAfter);
    EXPECT_EQ(Resets(), row.reset ? 1u : 0u);
    if (row.acFlags >= 0) {
      EXPECT_EQ(root->acFlags_, row.acFlags);
    }
    // After a refused or overrun part no later unit is handed anything.
    if (row.twist == Twist::Refuse || row.twist == Twist::OneOver) {
      for (FakeUnit* unit : later) EXPECT_TRUE(unit->seen.empty()) << "a later unit was called";
    }
    // Every reply waits 20 ms first, even one that is dropped.
    EXPECT_EQ(zel::HostClock::PauseCount(), pauses + 1);
    EXPECT_EQ(zel::HostClock::LastPause(), 20000u);
  }
}

// From four DC units on, the first unit's part starts at the count byte.
TEST_F(FakeCycle, DcPartsStartAtTheCountByteFromFourUnits) {
  for (size_t dc : {3, 4, 5}) {
    SCOPED_TRACE(dc);
    Configure(0, dc);
    PassModelCheck();
    AdvanceTo("4241");
    std::vector<unsigned char> info = {0x00, static_cast<unsigned char>(dc)};
    for (size_t k = 0; k < 11 * dc; ++k) info.push_back(static_cast<unsigned char>(0x80 + k));
    EXPECT_EQ(bench.Reply(*root, 0x42, info), 1);

    const size_t start = dc < 4 ? 2 : 1;
    for (size_t j = 0; j < dc; ++j)
      EXPECT_EQ(root->dcUnits_[j]->seen.back(),
                "42_41 " + zel::ToHex(info.data() + start + 11 * j, 11));
    EXPECT_TRUE(Logs().empty());  // a part left over at the end passes silently
    EXPECT_EQ(RequestText(LastRequest()), "4244");
  }
}

// While the host's base check declines (a request outstanding, the port closed), nothing is
// sent at any step, the model check pending or not; once it passes, the step's request.
TEST_F(FakeCycle, RefreshStatusSendsTheWaitingStepAgain) {
  struct Row {
    uint32_t step;
    uint8_t version;
    const char* request;
    uint8_t modelPending = 0;
  };
  const Row rows[] = {
      {0, 0x20, "4041FF"}, {1, 0x20, "4043FF"},   {2, 0x20, "4044FF"},  {3, 0x20, ""},
      {4, 0x20, "4141"},   {5, 0x20, "4143"},     {6, 0x20, "4144"},    {7, 0x20, "4241"},
      {7, 0x21, "4241FF"}, {8, 0x21, "4244FF"},   {9, 0x20, ""},        {12, 0x20, ""},
      {15, 0x20, ""},      {14, 0x20, "4051", 1}, {0, 0x20, "4051", 1}, {7, 0x20, "4051", 1}};
  Configure(1, 1);
  PassModelCheck();
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.step) + (row.modelPending ? ", model check pending" : ""));
    root->step_ = row.step;
    root->protocolVersion_ = row.version;
    root->modelCheckPending_ = row.modelPending;
    NewRequests();
    for (const char* decline : {"a request outstanding", "the port closed"}) {
      SCOPED_TRACE(decline);
      root->Reset();
      if (decline[0] == 'a') {
        root->outstanding_ = 1;
      } else {
        root->portOpen_ = 0;
      }
      EXPECT_FALSE(root->RefreshStatus());
      EXPECT_TRUE(NewRequests().empty());
      EXPECT_EQ(root->step_, row.step);
      EXPECT_EQ(root->modelCheckPending_, row.modelPending);
      root->portOpen_ = 1;
    }
    root->Reset();  // the host gave up on the outstanding request
    EXPECT_TRUE(root->RefreshStatus());
    EXPECT_EQ(NewRequests(), row.request[0] ? Split(row.request) : std::vector<std::string>{});
    EXPECT_EQ(root->step_, row.modelPending ? 14u : row.step);
  }
}

TEST_F(FakeCycle, RequestsWaitTwoWholeSecondsAfterTheLastUpdate) {
  Configure(1, 1);
  PassModelCheck();
  // Before the host has set a last-update time, a stalled step goes out again at once.
  AdvanceTo("4241");
  EXPECT_EQ(bench.Reply(*root, 0x42, "0002"), 1);  // DC count differs
  NewRequests();
  EXPECT_TRUE(root->RefreshStatus());
  EXPECT_EQ(NewRequests(), std::vector<std::string>{"4241"});
  FinishRound();  // the host sets lastUpdate_ to now
  NewRequests();

  for (long wait : {0L, 1L}) {
    Advance(wait);
    root->spStatus_ = 5;
    EXPECT_FALSE(root->RefreshStatus());
    EXPECT_EQ(root->spStatus_, 0);
  }
  EXPECT_TRUE(NewRequests().empty());
  Advance(1);
  EXPECT_TRUE(root->RefreshStatus());
  EXPECT_EQ(NewRequests(), std::vector<std::string>{"4041FF"});

  // A stalled step waits as well; a last update in the future holds everything back.
  AdvanceTo("4241");
  EXPECT_EQ(bench.Reply(*root, 0x42, "0002"), 1);
  root->lastUpdate_ = zel::HostClock::Now() + boost::posix_time::seconds(5);
  EXPECT_FALSE(root->RefreshStatus());
  root->lastUpdate_ = zel::HostClock::Now();
  Advance(1);
  EXPECT_FALSE(root->RefreshStatus());
  NewRequests();
  Advance(1);
  EXPECT_TRUE(root->RefreshStatus());
  EXPECT_EQ(NewRequests(), std::vector<std::string>{"4241"});
}

TEST_F(FakeCycle, WithoutRectifierUnitNothingIsPolled) {
  Configure(1, 1, false);
  for (int k = 0; k < 3; ++k) {
    EXPECT_FALSE(root->RefreshStatus());
    Advance(5);
  }
  EXPECT_EQ(Logs(), std::vector<std::string>{
                        "PMBusPower:ProcotolError 1 no rectifier unit configured, not polling"});
  // A reply handed over anyway reaches no unit.
  for (uint32_t step : {0u, 4u, 9u, 14u}) {
    root->step_ = step;
    const unsigned char group = step == 0 || step == 14 ? 0x40 : step == 4 ? 0x41 : 0x42;
    EXPECT_EQ(bench.Reply(*root, group, rvt_test::ReplyInfo(0x40, 0x41, 1, 1, answers)), 1);
  }
  EXPECT_TRUE(root->acUnits_[0]->seen.empty());
  EXPECT_TRUE(root->dcUnits_[0]->seen.empty());
  EXPECT_TRUE(NewRequests().empty());
  EXPECT_TRUE(Publishers().empty());
  EXPECT_EQ(root->modelCheckPending_, 1);
}

// ---- With the real units ----

using RealCycle = CycleTest<RealKit>;

TEST_F(RealCycle, ModelQueryRepeatsUntilAModelReplyArrives) {
  Configure(1, 1);
  root->lastUpdate_ = zel::HostClock::Now();  // the 2-second check does not hold it back
  EXPECT_TRUE(root->RefreshStatus());
  EXPECT_EQ(bench.Reply(*root, 0x41, Repeat("00", 20)), 1);  // another command group
  EXPECT_EQ(root->step_, 14u);
  EXPECT_TRUE(root->RefreshStatus());
  EXPECT_EQ(bench.Reply(*root, 0x42, Repeat("00", 20)), 1);
  EXPECT_EQ(root->step_, 14u);
  EXPECT_TRUE(root->RefreshStatus());
  EXPECT_EQ(NewRequests(), (std::vector<std::string>{"4051", "4051", "4051"}));
  EXPECT_TRUE(bench.controller->Journal(zel::Event::Kind::Rules).empty());

  EXPECT_EQ(Answer(), 1);
  EXPECT_EQ(NewRequests(), std::vector<std::string>{"4041FF"});
  FinishRound();
  Advance(2);
  EXPECT_TRUE(root->RefreshStatus());
  EXPECT_EQ(NewRequests().back(), "4041FF");  // the check is done once
}

// A short field is taken as it came, with a line that says so; the rounds begin all the same.
TEST_F(RealCycle, ModelCheckDropsTrailingFillAndIgnoresCase) {
  const std::string rvt = "72767432363030";  // "rvt2600"
  const std::string shortField = "PMBusPower:ProcotolError 1 read 40_51 model field is ";
  struct Row {
    std::string field;
    bool alarm;
    std::string log = "";
  };
  const Row rows[] = {
      {rvt + Repeat("00", 13), false},
      {"52565432363030" + Repeat("20", 13), false},          // "RVT2600" and blanks
      {"52767432363030" + Repeat("0020", 6) + "00", false},  // NULs and blanks mixed
      {rvt + Repeat("00", 13) + "FFFF", false},              // bytes after the field
      {rvt + "78" + Repeat("00", 12), true},                 // "rvt2600x"
      {"727674323630" + Repeat("00", 14), true},             // "rvt260"
      {"20" + rvt + Repeat("00", 12), true},                 // a leading blank
      {rvt + "0078" + Repeat("00", 11), true},               // a byte after a NUL
      {Repeat("20", 20), true},
      {Repeat("00", 20), true},
      {"72767432363031" + Repeat("00", 13), true},  // "rvt2601": the length alone is right
      {rvt + Repeat("00", 12), false, shortField + "19 bytes, not 20"},
      {rvt, false, shortField + "7 bytes, not 20"},
      {"525654" + Repeat("20", 4), true, shortField + "7 bytes, not 20"},  // "RVT" and blanks
      {"", true, shortField + "0 bytes, not 20"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.field);
    bench = zel::Bench();  // a host that has seen no alarm yet
    requestsSeen = 0;
    Configure(1, 1);
    EXPECT_TRUE(root->RefreshStatus());
    EXPECT_EQ(bench.Reply(*root, 0x40, row.field), 1);
    EXPECT_EQ(NewRequests(), (std::vector<std::string>{"4051", "4041FF"}));
    EXPECT_EQ(root->modelCheckPending_, 0);
    EXPECT_EQ(root->step_, 0u);
    EXPECT_EQ(Logs(),
              row.log.empty() ? std::vector<std::string>{} : std::vector<std::string>{row.log});

    const std::vector<unsigned char> bytes = zel::FromHex(row.field);
    const std::string field(bytes.begin(), bytes.begin() + std::min<size_t>(bytes.size(), 20));
    EXPECT_EQ(root->detectedModel_, field);
    const auto batches = bench.controller->Journal(zel::Event::Kind::Rules);
    const auto alarms = bench.controller->Journal(zel::Event::Kind::Alarm);
    if (!row.alarm) {
      EXPECT_TRUE(batches.empty());
      EXPECT_TRUE(alarms.empty());
      continue;
    }
    const std::string text = "本驱动类型:rvt2600 检测型号:" + field;
    ASSERT_EQ(batches.size(), 1u);
    ASSERT_EQ(batches[0].rules.size(), 1u);
    const rule_value& rule = batches[0].rules[0];
    EXPECT_EQ(rule.level, 3);
    EXPECT_EQ(rule.id, "device_model");
    EXPECT_EQ(rule.code, "70319");
    EXPECT_EQ(rule.name, "设备配置检测");
    EXPECT_EQ(rule.text, text);
    EXPECT_EQ(rule.active, 1);
    EXPECT_EQ(rule.seq, 0u);
    ASSERT_EQ(alarms.size(), 1u);
    EXPECT_TRUE(alarms[0].raised);
    EXPECT_EQ(alarms[0].text, text);
  }
}

TEST_F(RealCycle, FirstDcPartStartsAtTheCountByteFromFourUnits) {
  Configure(0, 4);
  PassModelCheck();
  AdvanceTo("4241");
  // The first unit's voltage is the count byte 04 and the three bytes after it.
  const std::string rest = Repeat("00", 4) + "000000";
  const std::string info = "0004" + ("00803F" + rest) + Repeat("0000A040" + rest, 3);
  EXPECT_EQ(bench.Reply(*root, 0x42, info), 1);
  FinishRound();
  LeF32 first;
  const unsigned char bytes[4] = {0x04, 0x00, 0x80, 0x3F};
  std::memcpy(first.b, bytes, 4);
  EXPECT_EQ(root->dcUnits_[0]->Get_Value(0, "v"), static_cast<float>(first));
  for (size_t k = 1; k < 4; ++k) EXPECT_EQ(root->dcUnits_[k]->Get_Value(0, "v"), 5.0f);
}

// Replies that the real units refuse or measure differently from the reply's length.
TEST_F(RealCycle, RealRepliesThatFailAStep) {
  struct Row {
    const char* name;
    const char* at;
    std::string info;
    std::vector<std::string> logs;
    int result;
    const char* next;
  };
  const Row rows[] = {
      {"last AC part one byte short",
       "4041",
       "0002" + Repeat("00", 13) + Repeat("00", 12),
       {"PMBusPowerAC:ProcotolError 12 read 40_41 read overflow 13 - 12"},
       1,
       ""},
      {"rectifier analog reply with a byte left",
       "4141",
       "00" + Repeat("00", 5) + "00",
       {"PMBusPower:ProcotolError 1 parse p41_41 overflow memory boundary"},
       1,
       ""},
      {"AC parameters claim two user values",
       "4046",
       Repeat("00", 20) + "02",
       {"PMBusPower:ProcotolError 1 parse 40_46 overflow memory boundary"},
       1,
       "4246"},
      {"DC parameters claim three user values",
       "4246",
       Repeat("00", 8) + "03",
       {"TKR07B:ProcotolError parse42_46 1 p:3 != 5",
        "PMBusPower:ProcotolError 1 parse 42_46 overflow memory boundary"},
       0,
       ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Configure(2, 1);
    PassModelCheck();
    AdvanceTo(row.at);
    const zel::Event req = LastRequest();
    bench.controller->ClearJournal();
    requestsSeen = 0;
    EXPECT_EQ(bench.Reply(*root, req.cid1, row.info), row.result);
    EXPECT_EQ(Logs(), row.logs);
    EXPECT_EQ(NewRequests(), row.next[0] ? Split(row.next) : std::vector<std::string>{});
  }
}

}  // namespace
