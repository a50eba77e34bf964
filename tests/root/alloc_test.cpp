// Handling a reply allocates nothing, once the model check is done.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "CycleKit.h"

namespace {
std::atomic<bool> counting{false};
std::atomic<long> allocations{0};
}  // namespace

// Kept out of line: GCC would otherwise see free() meet a pointer from operator new.
__attribute__((noinline)) void* operator new(std::size_t n) {
  if (counting) ++allocations;
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
__attribute__((noinline)) void operator delete(void* p) noexcept {
  std::free(p);
}
__attribute__((noinline)) void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}

namespace {

// A reply record of exactly its size.
std::vector<unsigned char> Record(unsigned char cid1, const std::string& infoHex) {
  const std::vector<unsigned char> info = zel::FromHex(infoHex);
  std::vector<unsigned char> raw = {0x20,
                                    0x01,
                                    cid1,
                                    0x00,
                                    static_cast<unsigned char>((2 * info.size()) & 0xFF),
                                    static_cast<unsigned char>((2 * info.size()) >> 8)};
  raw.insert(raw.end(), info.begin(), info.end());
  return raw;
}

template <class Fn>
long Allocations(Fn&& fn) {
  allocations = 0;
  counting = true;
  fn();
  counting = false;
  return allocations.exchange(0);
}

// The host's side of a reply (framing the next request, or the reset at the end of a round)
// may allocate; the root's own handling adds nothing to it.
TEST(RootAllocation, ARoundOfRepliesAllocatesNothingOfItsOwn) {
  rvt_test::FakeRoot root;
  Json::Value settings(Json::objectValue);
  settings["acSetting"][0]["data_id"] = 11;
  settings["acSetting"][1]["data_id"] = 12;
  settings["dcSetting"][0]["data_id"] = 21;
  settings["rcSetting"] = Json::Value(Json::objectValue);
  ASSERT_TRUE(root.InitSetting(settings));
  for (const auto& unit : root.GetAllChildVDevices())
    static_cast<rvt_test::FakeUnit&>(*unit).record = false;
  root.modelCheckPending_ = 0;
  root.OpenPort();
  ASSERT_TRUE(root.RefreshStatus());

  const unsigned requests[] = {0x4041, 0x4043, 0x4044, 0x4141, 0x4143,
                               0x4144, 0x4241, 0x4244, 0x4046, 0x4246};
  const size_t n = sizeof requests / sizeof requests[0];
  std::vector<std::vector<unsigned char>> replies;
  for (unsigned r : requests)
    replies.push_back(Record(static_cast<unsigned char>(r >> 8),
                             rvt_test::ReplyInfo(r >> 8, r & 0xFF, 2, 1, rvt_test::Answers{})));

  for (size_t k = 0; k < n; ++k) {
    SCOPED_TRACE(k);
    ASSERT_EQ(root.lastCid1_ << 8 | root.lastCid2_, static_cast<int>(requests[k]));
    long host;
    if (k + 1 < n) {
      const unsigned char cid1 = static_cast<unsigned char>(requests[k + 1] >> 8);
      const unsigned char cid2 = static_cast<unsigned char>(requests[k + 1]);
      host = Allocations([&] {
        if (cid1 == 0x40 && cid2 != 0x46) {
          root.write_pmbus_cmd(cid1, cid2, &root.commandGroup_, 1);
        } else {
          root.write_pmbus_cmd(cid1, cid2);
        }
      });
      root.lastCid1_ = static_cast<unsigned char>(requests[k] >> 8);
      root.lastCid2_ = static_cast<unsigned char>(requests[k]);
    } else {
      host = Allocations([&] { root.Reset(); });
    }
    root.reply_ = reinterpret_cast<ReplyRecord*>(replies[k].data());
    int result = -1;
    EXPECT_EQ(Allocations([&] { result = root.process_payload(); }), host);
    EXPECT_EQ(result, k + 1 == n ? 0 : 1);
  }
  root.reply_ = nullptr;
}

}  // namespace
