#include "CycleScript.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>

namespace rvt_fuzz {
namespace {

// Bounds of what an input chooses. Four DC units and more move the first DC part onto the
// count byte, so five are allowed.
constexpr size_t kMaxAc = 3;
constexpr size_t kMaxDc = 5;
constexpr unsigned kMaxFullRefreshS = 600;
constexpr unsigned kMaxSeconds = 3;
constexpr size_t kMaxInfo = ReplyRecord::kMaxInfo;

enum Call : unsigned { kRefresh, kTimeout, kReply, kLastCall = kReply };

}  // namespace

ScriptRun RunCycleScript(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  SiteShape shape;
  shape.ac = in.ConsumeIntegralInRange<size_t>(0, kMaxAc);
  shape.dc = in.ConsumeIntegralInRange<size_t>(0, kMaxDc);
  shape.version21 = in.ConsumeBool();
  shape.fullRefreshS = in.ConsumeIntegralInRange<unsigned>(0, kMaxFullRefreshS);
  Cycle cycle(shape);
  while (in.remaining_bytes() > 0 && cycle.Broken().empty()) {
    switch (in.ConsumeIntegralInRange<unsigned>(0, kLastCall)) {
      case kRefresh:
        cycle.Refresh(in.ConsumeIntegralInRange<unsigned>(0, kMaxSeconds));
        break;
      case kTimeout:
        cycle.Timeout();
        break;
      default: {
        const uint8_t cid1 =
            in.ConsumeBool() ? cycle.ExpectedGroup() : in.ConsumeIntegral<uint8_t>();
        const size_t n = in.ConsumeIntegralInRange<size_t>(0, kMaxInfo);
        const std::vector<uint8_t> info = in.ConsumeBytes<uint8_t>(n);
        cycle.Reply(cid1, info.data(), info.size());
        break;
      }
    }
  }
  return {cycle.Broken(), cycle.Requests(), cycle.Rounds()};
}

CycleScriptWriter::CycleScriptWriter(const SiteShape& shape) {
  Number(shape.ac, 0, kMaxAc);
  Number(shape.dc, 0, kMaxDc);
  Number(shape.version21 ? 1 : 0, 0, 0xFF);
  Number(shape.fullRefreshS, 0, kMaxFullRefreshS);
}

void CycleScriptWriter::Refresh(unsigned seconds) {
  Number(kRefresh, 0, kLastCall);
  Number(seconds, 0, kMaxSeconds);
}

void CycleScriptWriter::Timeout() {
  Number(kTimeout, 0, kLastCall);
}

void CycleScriptWriter::Reply(const std::vector<uint8_t>& info) {
  Number(kReply, 0, kLastCall);
  Number(1, 0, 0xFF);
  Body(info);
}

void CycleScriptWriter::Reply(uint8_t cid1, const std::vector<uint8_t>& info) {
  Number(kReply, 0, kLastCall);
  Number(0, 0, 0xFF);
  Number(cid1, 0, 0xFF);
  Body(info);
}

void CycleScriptWriter::Body(const std::vector<uint8_t>& info) {
  const size_t n = std::min(info.size(), kMaxInfo);
  Number(n, 0, kMaxInfo);
  front_.insert(front_.end(), info.begin(), info.begin() + static_cast<std::ptrdiff_t>(n));
}

// A number in [min, max] takes one byte from the back for every byte of max - min, the most
// significant first.
void CycleScriptWriter::Number(uint64_t value, uint64_t min, uint64_t max) {
  const uint64_t v = value - min;
  const uint64_t range = max - min;
  int bytes = 0;
  while (bytes < 8 && (range >> (8 * bytes)) > 0) ++bytes;
  for (int k = bytes - 1; k >= 0; --k) back_.push_back(static_cast<uint8_t>(v >> (8 * k)));
}

std::vector<uint8_t> CycleScriptWriter::Bytes() const {
  std::vector<uint8_t> out = front_;
  out.insert(out.end(), back_.rbegin(), back_.rend());
  return out;
}

}  // namespace rvt_fuzz
