#pragma once

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <cstdint>
#include <functional>
#include <istream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "Line.h"

// Replay files: the replies of a session, one a line, answering requests in order.
//   CID1 INFOHEX   a reply: its command group and INFO in hex (INFO may be empty)
//   timeout        no reply (the missing-reply path)
//   +N / -N        move the clock N seconds before the next reply
// Blank lines and lines starting with '#' are skipped.
namespace zel {

// The replay clock starts here and moves 2 s from one RefreshStatus call to the next.
const boost::posix_time::ptime kReplayStart{boost::gregorian::date(2026, 1, 1)};
constexpr long kReplayStepS = 2;

struct ReplayLine {
  enum class Kind { Reply, Timeout, Advance };
  Kind kind = Kind::Reply;
  uint8_t cid1 = 0;
  std::vector<uint8_t> info;
  long seconds = 0;  // Advance
  int lineNo = 0;
};

class ReplayError : public std::runtime_error {
 public:
  ReplayError(int line, const std::string& what)
      : std::runtime_error("line " + std::to_string(line) + ": " + what), line_(line) {}
  int line() const { return line_; }

 private:
  int line_;
};

// A replay file read a line at a time, as the session asks for replies: its length does not
// count in the program's memory.
class ReplayReader {
 public:
  explicit ReplayReader(std::istream& in) : in_(in) {}
  // The next line that counts; none at the end of the file. Throws ReplayError for a line that
  // does not parse.
  std::optional<ReplayLine> Next();

 private:
  std::istream& in_;
  int lineNo_ = 0;
  std::string raw_;
};

// The lines that count, in order; throws ReplayError at the first line that does not parse.
std::vector<ReplayLine> ParseReplay(std::istream& in);

// The line for a request's outcome: "CID1 INFOHEX" or "timeout".
std::string ReplayText(const ReplyOutcome& outcome);

// Writes a session in the replay format. The replay moves its clock on its own (kReplayStepS
// before each request that follows a round's end or a failure); the recorder follows that and
// writes "+N" (or "-N") wherever the session's clock differs, so that every reply is handled at
// the same second on replay as it was on the line.
class Recorder {
 public:
  explicit Recorder(std::function<void(const std::string&)> sink) : sink_(std::move(sink)) {}
  // After a request's outcome has been handled; pending: the device has sent its next request.
  void Outcome(const ReplyOutcome& outcome, boost::posix_time::ptime now, bool pending);

 private:
  std::function<void(const std::string&)> sink_;
  boost::posix_time::ptime replayClock_ = kReplayStart;
};

}  // namespace zel
