#pragma once

// What the cycle tests drive: a root over fake units (which record what they are handed and
// answer as scripted) or the RVT2600 over the real units, a power system that answers every
// request with a well-formed reply, and a fixture that runs rounds through the stand-in host.
#include <gtest/gtest.h>
#include <json/json.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "HostTest.h"
#include "PMBusPower.h"
#include "RVT2600.h"

namespace rvt_test {

// A unit that answers each part with the length a real unit's smallest part has (no channels,
// no modules), unless a script says otherwise; RoundDone publishes an empty image so that the
// host's journal shows the order.
class FakeUnit : public ZelSPDevice {
 public:
  // The answer to an operation given the bytes remaining, or kUsual.
  using Script = std::function<int(const std::string& op, int remaining)>;
  static constexpr int kUsual = -2;

  explicit FakeUnit(int dataType) : dataType_(dataType) {}

  using VDeviceInterface::LoadFromCache;
  bool LoadFromCache(const unsigned char*, int) override { return true; }
  void RoundDone() override { SendSP(dataType_, nullptr, 0, false); }

  // A part of `size` bytes (the whole rest when size is negative), -1 when it does not fit.
  int Part(const char* op, int size, const unsigned char* data, int remaining) {
    if (record) {
      const int shown = std::max(0, std::min(remaining, size < 0 ? remaining : size));
      seen.push_back(std::string(op) + " " + zel::ToHex(data, static_cast<size_t>(shown)));
    }
    if (script) {
      const int answer = script(op, remaining);
      if (answer != kUsual) return answer;
    }
    if (size < 0) return remaining;
    return size <= remaining ? size : -1;
  }

  Script script;
  bool record = true;
  // "op HEX" for every part handed to the unit, with the bytes of its usual part.
  std::vector<std::string> seen;

 private:
  int dataType_;
};

struct FakeAC : FakeUnit {
  FakeAC() : FakeUnit(5106) { deviceType_ = "fake-ac"; }
  virtual int parse40_41(const unsigned char* d, int r) { return Part("40_41", 13, d, r); }
  virtual int parse40_43(const unsigned char* d, int r) { return Part("40_43", 5, d, r); }
  virtual int parse40_44(const unsigned char* d, int r) { return Part("40_44", 4, d, r); }
};

struct FakeDC : FakeUnit {
  FakeDC() : FakeUnit(5108) { deviceType_ = "fake-dc"; }
  explicit FakeDC(const std::string&) : FakeDC() {}
  virtual int parse42_41(const unsigned char* d, int r) { return Part("42_41", 11, d, r); }
  virtual int parse42_44(const unsigned char* d, int r) { return Part("42_44", 3, d, r); }
};

// The rectifier takes the whole reply.
struct FakeRC : FakeUnit {
  FakeRC() : FakeUnit(5107) { deviceType_ = "fake-rc"; }
  virtual int parse41_41(const unsigned char* d, int r) { return Part("41_41", -1, d, r); }
  virtual int parse41_43(const unsigned char* d, int r) { return Part("41_43", -1, d, r); }
  virtual int parse41_44(const unsigned char* d, int r) { return Part("41_44", -1, d, r); }
  virtual int parse40_46(const unsigned char* d, int r) { return Part("40_46", -1, d, r); }
  virtual int parse42_46(const unsigned char* d, int r) { return Part("42_46", -1, d, r); }
};

struct FakeRoot : PMBusPower<FakeAC, FakeDC, FakeRC> {
  FakeRoot() : PMBusPower({"rvt2600"}) { deviceType_ = "rvt2600"; }
};

struct FakeKit {
  using Root = FakeRoot;
};
struct RealKit {
  using Root = RVT2600;
};

// The change flags the power system puts in its analog replies.
struct Answers {
  unsigned char acFlags = 0;
  unsigned char rcFlags = 0;
  unsigned char dcFlags = 0;
};

inline std::string Repeat(const std::string& hex, size_t n) {
  std::string out;
  for (size_t k = 0; k < n; ++k) out += hex;
  return out;
}

inline std::string Byte(unsigned v) {
  const unsigned char b = static_cast<unsigned char>(v);
  return zel::ToHex(&b, 1);
}

// The INFO of a well-formed reply to (cid1, cid2) from a system with the given unit counts:
// AC units without channels, a rectifier group without modules, DC units without M, N, P
// values, fuses or user states.
inline std::string ReplyInfo(unsigned char cid1, unsigned char cid2, size_t ac, size_t dc,
                             const Answers& a) {
  const unsigned request = static_cast<unsigned>(cid1) << 8 | cid2;
  switch (request) {
    case 0x4051:
      return "72767432363030" + Repeat("00", 13);  // "rvt2600", NUL-filled to 20 bytes
    case 0x4041:                                   // count, ia ib ic
      return Byte(a.acFlags) + Byte(ac) + Repeat("00" + Repeat("00", 12), ac);
    case 0x4043:  // airlock count 0, three user states
      return "00" + Byte(ac) + Repeat("0003000000", ac);
    case 0x4044:  // skipped byte, ia ib ic alarm states
      return "00" + Byte(ac) + Repeat("00000000", ac);
    case 0x4141:  // flags, group value, module count
      return Byte(a.rcFlags) + "00000000" + "00";
    case 0x4143:
    case 0x4144:
      return "0000";
    case 0x4241:  // v, i, m, n, p
      return Byte(a.dcFlags) + Byte(dc) + Repeat(Repeat("00", 8) + "000000", dc);
    case 0x4244:  // v_state, fuse count, user state count
      return "00" + Byte(dc) + Repeat("000000", dc);
    case 0x4046:  // five values, no user parameters
      return Repeat("00", 20) + "00";
    case 0x4246:  // two values, five user parameters
      return Repeat("00", 8) + "05" + Repeat("00", 20);
  }
  return "";
}

template <class Kit>
class CycleTest : public VirtualClockTest {
 protected:
  using Root = typename Kit::Root;
  static constexpr unsigned kRootId = 1;

  // A root with AC units 11, 12, ..., DC units 21, 22, ... and a rectifier unit, started by
  // the host.
  void Configure(size_t ac, size_t dc, bool rectifier = true) {
    Json::Value settings(Json::objectValue);
    for (size_t k = 0; k < ac; ++k)
      settings["acSetting"][static_cast<int>(k)]["data_id"] = 11u + unsigned(k);
    for (size_t k = 0; k < dc; ++k)
      settings["dcSetting"][static_cast<int>(k)]["data_id"] = 21u + unsigned(k);
    if (rectifier) settings["rcSetting"] = Json::Value(Json::objectValue);
    root = std::make_shared<Root>();
    bench.Start(*root, kRootId, settings);
    acCount = ac;
    dcCount = dc;
  }

  // Requests since the last call, each as CID1 CID2 INFO in hex ("4041FF").
  std::vector<std::string> NewRequests() {
    std::vector<std::string> out;
    const auto all = bench.controller->Journal(zel::Event::Kind::Request);
    for (size_t k = requestsSeen; k < all.size(); ++k) out.push_back(RequestText(all[k]));
    requestsSeen = all.size();
    return out;
  }
  static std::string RequestText(const zel::Event& e) {
    return Byte(e.cid1) + Byte(e.cid2) + zel::ToHex(e.bytes);
  }
  zel::Event LastRequest() const {
    const auto all = bench.controller->Journal(zel::Event::Kind::Request);
    EXPECT_FALSE(all.empty());
    return all.empty() ? zel::Event(zel::Event::Kind::Request) : all.back();
  }

  // The regular reply to the outstanding request, with extra bytes appended.
  int Answer(const std::string& extra = "") {
    const zel::Event req = LastRequest();
    return bench.Reply(*root, req.cid1,
                       ReplyInfo(req.cid1, req.cid2, acCount, dcCount, answers) + extra);
  }

  // The model query and its reply, which sends the first request of a round.
  void PassModelCheck() {
    ASSERT_TRUE(root->RefreshStatus());
    ASSERT_EQ(Answer(), 1);
  }

  // Answers until the request `target` ("4241") is outstanding.
  void AdvanceTo(const std::string& target) {
    for (int k = 0; k < 12; ++k) {
      if (RequestText(LastRequest()).substr(0, 4) == target) return;
      ASSERT_EQ(Answer(), 1) << "the round ended before " << target;
    }
    FAIL() << target << " never requested";
  }

  // Answers until a reply returns 0; the results of every reply.
  std::vector<int> FinishRound() {
    std::vector<int> results;
    while (results.size() < 12) {
      results.push_back(Answer());
      if (results.back() == 0) break;
    }
    return results;
  }

  // Data ids in the order their units published.
  std::vector<unsigned> Publishers() const {
    std::vector<unsigned> out;
    for (const auto& e : bench.controller->Journal(zel::Event::Kind::Publish))
      out.push_back(e.device);
    return out;
  }
  size_t Resets() const { return bench.controller->Journal(zel::Event::Kind::Reset).size(); }

  std::shared_ptr<Root> root;
  size_t acCount = 0;
  size_t dcCount = 0;
  Answers answers;
  size_t requestsSeen = 0;
};

}  // namespace rvt_test
