#include "Seeds.h"

#include <algorithm>
#include <sstream>
#include <stdexcept>

#include "CycleScript.h"
#include "Frame.h"

namespace rvt_fuzz {
namespace {

// Sessions of the tests' sites; the replies are the simulator's, as the tests check them.
const std::vector<Session> kSessions = {
    // The reference site: 3 AC channels (channel 3's c not available), 6 modules (module 2
    // faulty), one DC unit with 4/9/3 values, 64 fuses and 13 user alarms. Round 2: fuse 5
    // fails, so only the DC unit asks for its alarm states.
    {"reference",
     {1, 1},
     "+0\n"
     "40 5256543236303020202020202020202020202020\n"
     "40 110103CDCC6543666666439A19674300004842009A99644366E6654333336643"
     "000048420000806743CDCC6643202020209A9947420033333341CDCC2C410000"
     "3841\n"
     "40 11010003010001\n"
     "40 1101030000000000080000000000000000000000000008000000000000000000"
     "00000000080000000000000000000000\n"
     "41 11000056420666669E41040000803F000000400000404000008040CDCCA04104"
     "000000000000000000000000000000000000A041040000000000000000000000"
     "0000000000CDCC9C4104000000000000000000000000000000006666A2410400"
     "00000000000000000000000000000033339F4104000000000000000000000000"
     "00000000\n"
     "41 1106010002010700000001000000000100000000010000000001000000000100\n"
     "41 1106000400000000010400000000000400000000000400000000000400000004"
     "000400000000\n"
     "42 0101000056426666ED42040000803F000000400000404000008040090000C03F"
     "0000204000006040000090400000B0400000D0400000F0400000084100001841"
     "030000003F2020202000002040\n"
     "42 0101004000000000000000000000000000000000000000000000000000000000"
     "0000000000000000000000000000000000000000000000000000000000000000"
     "000000000D00010000000000000000000002\n"
     "40 00008C430000344300005C420000344200007C4200\n"
     "42 666666420000344205000056429A996142CDCC2C420000000000000000\n"
     "+2\n"
     "40 000103CDCC6543666666439A19674300004842009A99644366E6654333336643"
     "000048420000806743CDCC6643202020209A9947420033333341CDCC2C410000"
     "3841\n"
     "41 00000056420666669E41040000803F000000400000404000008040CDCCA04104"
     "000000000000000000000000000000000000A041040000000000000000000000"
     "0000000000CDCC9C4104000000000000000000000000000000006666A2410400"
     "00000000000000000000000000000033339F4104000000000000000000000000"
     "00000000\n"
     "42 0101000056426666ED42040000803F000000400000404000008040090000C03F"
     "0000204000006040000090400000B0400000D0400000F0400000084100001841"
     "030000003F2020202000002040\n"
     "42 0101004000000000030000000000000000000000000000000000000000000000"
     "0000000000000000000000000000000000000000000000000000000000000000"
     "000000000D00010000000000000000000002\n"
     "40 00008C430000344300005C420000344200007C4200\n"
     "42 666666420000344205000056429A996142CDCC2C420000000000000000\n"},
    // The bench host's two-round replay: 2 AC channels, 2 modules; round 2 asks for the AC
    // alarm states only.
    {"two-rounds",
     {1, 1},
     "+0\n"
     "40 7276743236303020202020202020202020202020\n"
     "40 110102CDCC6543666666439A19674300004842009A99644366E6654333336643"
     "9A9947420033333341CDCC2C4100003841\n"
     "40 11010003000000\n"
     "40 1101020000000000080000000000000000000000000008000000000000000000"
     "0000\n"
     "41 11000056420266669E410400000000000000000000000000000000CDCCA04104"
     "00000000000000000000000000000000\n"
     "41 110200000001000000000100\n"
     "41 1102000400000000000400000000\n"
     "42 0101000056426666ED42000000\n"
     "42 0101004000000000000000000000000000000000000000000000000000000000"
     "0000000000000000000000000000000000000000000000000000000000000000"
     "0000000000\n"
     "40 00008C430000344300005C420000344200007C4200\n"
     "42 666666420000344205000056429A996142CDCC2C420000000000000000\n"
     "+2\n"
     "40 010102CDCC6543666666439A19674300004842009A99644366E6654333336643"
     "9A9947420033333341CDCC2C4100003841\n"
     "40 0101020000000000080000000000000000010000000008000000000000000000"
     "0000\n"
     "41 00000056420266669E410400000000000000000000000000000000CDCCA04104"
     "00000000000000000000000000000000\n"
     "42 0001000056420000F142000000\n"
     "40 00008C430000344300005C420000344200007C4200\n"
     "42 666666420000344205000056429A996142CDCC2C420000000000000000\n"},
    // The simulator test's small site: one unit of each kind with every field set, markers
    // included, and one user-defined DC parameter (not the five expected); the rectifier's
    // flags ask for its alarm states as well.
    {"small-site",
     {1, 1},
     "+0\n"
     "40 72 76 74 32 36 30 30 20202020202020202020202020\n"
     "40 11 01 01 0000803F 00000040 20202020 00004842 00 0000003F 000000C0 FFFFFFFF\n"
     "40 11 01 00 03 01 02 03\n"
     "40 11 01 01 00 01 02 03 00 08 0900000000000008 01 00 03\n"
     "41 11 00005642 01 0000A041 04 0000803F000000000000000000000000\n"
     "41 11 01 010002 01 07\n"
     "41 11 01 01 04 00000004\n"
     "42 01 01 00005642 0000C842 01 0000803F 00 01 20202020\n"
     "42 01 01 02 02 0003 01 05\n"
     "40 0000803F 00000000 00000000 00000000 00000000 00\n"
     "42 00000040 0000003F 01 0000803F\n"},
    // Two AC units and four DC units, whose first part starts at the count byte; protocol
    // version 0x21.
    {"multi",
     {2, 4, true},
     "+0\n"
     "40 7276743236303020202020202020202020202020\n"
     "40 11020100006643000067430000684300004842000000803F0000004000004040"
     "0200005C4300005D4300005E4300004842000000614300006243000063430000"
     "704200000080400000A04020202020\n"
     "40 110200030000000003000000\n"
     "40 1102010000000000080000000000000000000000020000000000080000000000"
     "0000000000000000080000000000000000000000\n"
     "41 1100005842020000204104000000000000000000000000000000000000304104"
     "00000000000000000000000000000000\n"
     "41 110200000001000000000100\n"
     "41 1102000400000000000400000000\n"
     "42 010400544200002041000000000058420000A041010000803F000000005C4200"
     "00F041000000000060420000204200000120202020\n"
     "42 0104000200000000400000000000000000000000000000000000000000000000"
     "0000000000000000000000000000000000000000000000000000000000000000"
     "0000000000000000000000030000000000400000000000000000000000000000"
     "0000000000000000000000000000000000000000000000000000000000000000"
     "00000000000000000000000000000000000000\n"
     "40 0000803F0000004000004040000080400000A04000\n"
     "42 0000C0400000E040050000803F0000004000004040000080400000A040\n"},
    // No AC unit: the round starts at the rectifier; the DC alarm reply goes missing once and
    // its request is sent again.
    {"no-ac",
     {0, 1},
     "+0\n"
     "40 72 76 74 32 36 30 30 20202020202020202020202020\n"
     "41 11 00005642 01 0000A041 04 0000803F000000000000000000000000\n"
     "41 11 01 010002 01 07\n"
     "41 11 01 01 04 00000004\n"
     "42 01 01 00005642 0000C842 01 0000803F 00 01 20202020\n"
     "timeout\n"
     "+2\n"
     "42 01 01 02 02 0003 01 05\n"
     "42 00000040 0000003F 05 0102030405060708090A0B0C0D0E0F1011121314\n"},
};

// Parts of the unit tests beyond the sessions' (each whole: its operation takes all of it):
// markers, a user-defined block of another length skipped, airlock and user counts.
const Seed kUnitTestParts[] = {
    {"parse40_41", "markers",
     zel::FromHex("01 00006643 00806643 20202020 00004842 00 00002041 20202020 00004041")},
    {"parse40_41", "p-skipped",
     zel::FromHex("01 0000803F 00000040 00004040 00008040 02 0000C642 0000C442"
                  " 00002041 00003041 00004041")},
    {"parse40_43", "p-other", zel::FromHex("00 02 07 07")},
    {"parse40_44", "m-skipped", zel::FromHex("01 01020300 02 AABB 08 0001020304050607 010203")},
    {"parse40_44", "p-other", zel::FromHex("01 00000000 00 07 01010101010101 020202")},
    {"parse41_41", "three-modules",
     zel::FromHex("00 00004842 03 0000803F 04 00002041 0000803F 00000040 FFFFFFFF"
                  " FFFFFFFF 04 00004040 00002041 20202020 00000000"
                  " 00000040 04 00000040 00000040 00000040 00000040")},
    {"parse41_43", "three-modules", zel::FromHex("00 03 010203 01 11 040506 01 22 070809 01 33")},
    {"parse41_44", "three-modules",
     zel::FromHex("00 03 00 04 01020304 01 04 05060708 02 04 090A0B0C")},
    {"parse40_46", "user-values",
     zel::FromHex("0000803F 00000040 00004040 00002041 00004842 02 0000803F 0000803F")},
    {"parse42_46", "five-values",
     zel::FromHex("00000040 00004040 05 0102030405060708090A0B0C0D0E0F1011121314")},
    {"parse42_41", "m2-p1", zel::FromHex("00005442 00002041 02 0000803F 00000040 00 01 20202020")},
    {"parse42_44", "a2-q1", zel::FromHex("01 02 00 03 01 00")},
};

std::string Numbered(const char* session, size_t reply) {
  std::string n = std::to_string(reply);
  return std::string(session) + "-" + std::string(n.size() < 2 ? 2 - n.size() : 0, '0') + n;
}

void AddOnce(std::vector<Seed>& seeds, Seed seed) {
  for (const Seed& s : seeds)
    if (s.target == seed.target && s.bytes == seed.bytes) return;
  seeds.push_back(std::move(seed));
}

}  // namespace

const std::vector<Session>& Sessions() {
  return kSessions;
}

std::vector<SessionCall> Calls(const Session& session) {
  std::vector<SessionCall> calls;
  std::istringstream in(session.lines);
  std::string line;
  while (std::getline(in, line)) {
    const size_t start = line.find_first_not_of(' ');
    if (start == std::string::npos || line[start] == '#') continue;
    line = line.substr(start);
    SessionCall call;
    call.kind = SessionCall::Kind::Reply;
    if (line[0] == '+') {
      call.kind = SessionCall::Kind::Refresh;
      call.seconds = static_cast<unsigned>(std::stoul(line.substr(1)));
    } else if (line == "timeout") {
      call.kind = SessionCall::Kind::Timeout;
    } else {
      const std::vector<uint8_t> group = zel::FromHex(line.substr(0, 2));
      if (group.size() != 1 || (line.size() > 2 && line[2] != ' '))
        throw std::invalid_argument("not a session line: " + line);
      call.cid1 = group[0];
      call.info = zel::FromHex(line.substr(2));
    }
    calls.push_back(std::move(call));
  }
  return calls;
}

void Play(Cycle& cycle, const SessionCall& call) {
  switch (call.kind) {
    case SessionCall::Kind::Refresh:
      cycle.Refresh(call.seconds);
      break;
    case SessionCall::Kind::Timeout:
      cycle.Timeout();
      break;
    case SessionCall::Kind::Reply:
      cycle.Reply(call.cid1, call.info.data(), call.info.size());
      break;
  }
}

std::vector<Seed> Seeds() {
  std::vector<Seed> seeds;
  std::vector<Seed> frames;
  for (const Session& session : kSessions) {
    Cycle cycle(session.shape);
    CycleScriptWriter script(session.shape);
    size_t replies = 0;
    for (const SessionCall& call : Calls(session)) {
      if (call.kind == SessionCall::Kind::Refresh) script.Refresh(call.seconds);
      if (call.kind == SessionCall::Kind::Timeout) script.Timeout();
      if (call.kind == SessionCall::Kind::Reply) {
        if (call.cid1 == cycle.ExpectedGroup()) {
          script.Reply(call.info);
        } else {
          script.Reply(call.cid1, call.info);
        }
      }
      Play(cycle, call);
      if (!cycle.Broken().empty())
        throw std::runtime_error(std::string(session.name) + ": " + cycle.Broken());
      if (call.kind != SessionCall::Kind::Reply) continue;

      const std::string name = Numbered(session.name, ++replies);
      framing::Frame frame;
      frame.cid1 = call.cid1;
      frame.info = call.info;
      const std::string text = framing::Encode(frame);
      AddOnce(frames, {"frame", name, std::vector<uint8_t>(text.begin(), text.end())});
      const std::vector<PartSeen>& parts = cycle.Parts();
      for (size_t k = 0; k < parts.size(); ++k) {
        if (parts[k].result <= 0 || parts[k].result != static_cast<int>(parts[k].bytes.size()))
          continue;
        AddOnce(seeds, {parts[k].op, parts.size() > 1 ? name + "-u" + std::to_string(k + 1) : name,
                        parts[k].bytes});
      }
    }
    seeds.push_back({"cycle", session.name, script.Bytes()});
  }
  for (const Seed& seed : kUnitTestParts) AddOnce(seeds, seed);
  const std::string request = "~20014642E00201FD35\r";  // a request, as the line carries it
  AddOnce(frames, {"frame", "request", std::vector<uint8_t>(request.begin(), request.end())});
  // An AC analog reply with blank fill, as a power system of this protocol family sent it.
  const std::string blankFill =
      "~20014000A0600002B91EC343FCA3C34318DCC243E2E6474200DB42853FDB42053F79AEB13E        "
      "00CB96D142                EA9D\r";
  AddOnce(frames,
          {"frame", "blank-fill", std::vector<uint8_t>(blankFill.begin(), blankFill.end())});
  seeds.insert(seeds.end(), frames.begin(), frames.end());
  return seeds;
}

}  // namespace rvt_fuzz
