#include "Replay.h"

#include <cctype>
#include <sstream>

#include "Bench.h"
#include "Frame.h"

namespace zel {
namespace {

std::string Trim(const std::string& s) {
  size_t b = 0;
  size_t e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

// Clock moves of one line: up to 9 digits, so that a 32-bit long holds them.
constexpr long long kMaxStep = 999999999;

bool AllDigits(const std::string& s) {
  if (s.empty() || s.size() > 9) return false;
  for (char c : s)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

const char kExpected[] = "expected \"CID1 INFOHEX\", \"timeout\" or \"+N\"";

ReplayLine ParseLine(const std::string& text, int lineNo) {
  ReplayLine line;
  line.lineNo = lineNo;
  if (text == "timeout") {
    line.kind = ReplayLine::Kind::Timeout;
    return line;
  }
  if (text[0] == '+' || text[0] == '-') {
    const std::string digits = text.substr(1);
    if (!AllDigits(digits)) throw ReplayError(lineNo, "\"" + text + "\": " + kExpected);
    line.kind = ReplayLine::Kind::Advance;
    line.seconds = std::stol(digits) * (text[0] == '-' ? -1 : 1);
    return line;
  }
  std::istringstream words(text);
  std::string cid1;
  words >> cid1;
  std::string info;
  for (std::string w; words >> w;) info += w;
  std::vector<uint8_t> cid;
  try {
    cid = FromHex(cid1);
    line.info = FromHex(info);
  } catch (const std::invalid_argument&) {
    throw ReplayError(lineNo, "\"" + text + "\": " + kExpected);
  }
  if (cid.size() != 1) throw ReplayError(lineNo, "\"" + text + "\": CID1 is not one hex byte");
  if (line.info.size() > framing::kMaxInfo)
    throw ReplayError(lineNo, "INFO of " + std::to_string(line.info.size()) +
                                  " bytes is longer than a frame holds (" +
                                  std::to_string(framing::kMaxInfo) + ")");
  line.cid1 = cid[0];
  return line;
}

}  // namespace

std::optional<ReplayLine> ReplayReader::Next() {
  while (std::getline(in_, raw_)) {
    ++lineNo_;
    const std::string text = Trim(raw_);
    if (text.empty() || text[0] == '#') continue;
    return ParseLine(text, lineNo_);
  }
  return std::nullopt;
}

std::vector<ReplayLine> ParseReplay(std::istream& in) {
  std::vector<ReplayLine> out;
  ReplayReader reader(in);
  while (auto line = reader.Next()) out.push_back(std::move(*line));
  return out;
}

std::string ReplayText(const ReplyOutcome& outcome) {
  if (!outcome.answered) return "timeout";
  const std::string info = ToHex(outcome.info);
  return ToHex(&outcome.cid1, 1) + (info.empty() ? "" : " " + info);
}

void Recorder::Outcome(const ReplyOutcome& outcome, boost::posix_time::ptime now, bool pending) {
  long long delta = (now - replayClock_).total_seconds();
  while (delta != 0) {  // in steps that a replay line holds
    const long long step = delta > kMaxStep ? kMaxStep : delta < -kMaxStep ? -kMaxStep : delta;
    sink_((step > 0 ? "+" : "") + std::to_string(step));
    delta -= step;
  }
  replayClock_ = now;
  sink_(ReplayText(outcome));
  // With nothing sent, the replay calls RefreshStatus once more before the next request.
  if (!pending) replayClock_ += boost::posix_time::seconds(kReplayStepS);
}

}  // namespace zel
