// The commissioning scan: model queries over ports, speeds and addresses; one round of read
// requests for each power system that answers; its table and its configuration.
#include "Scan.h"

#include <fcntl.h>
#include <json/value.h>
#include <json/writer.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <boost/asio/io_context.hpp>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <set>
#include <sstream>

#include "Clock.h"
#include "Decoder.h"
#include "Line.h"
#include "Port.h"

namespace zel {
namespace {

constexpr uint8_t kVer = 0x20;             // the protocol's VER, as the plugin sends it
constexpr uint8_t kGroup = 0xFF;           // the INFO byte of the requests that carry one
constexpr unsigned kReadTimeoutMs = 1000;  // a read request's reply, as the session waits

unsigned ParseNumber(const std::string& text, const std::string& what) {
  if (text.empty() || text.size() > 6 ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
    throw UsageError(what + ": \"" + text + "\" is not a number");
  return static_cast<unsigned>(std::stoul(text));
}

std::vector<std::string> Split(const std::string& text, char by) {
  std::vector<std::string> out;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, by)) out.push_back(part);
  if (!text.empty() && text.back() == by) out.emplace_back();
  return out;
}

std::string Hex2(unsigned v) {
  char s[3];
  std::snprintf(s, sizeof s, "%02X", v & 0xFFu);
  return s;
}

// Text from the line, for a terminal: printable ASCII as it stands, anything else as \xNN.
std::string Shown(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out.push_back(static_cast<char>(c));
    } else {
      out += "\\x" + Hex2(c);
    }
  }
  return out;
}

// The model field without its fill (blanks and NULs at the end).
std::string ModelText(const std::vector<uint8_t>& info) {
  std::string text(info.begin(), info.end());
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
  return text;
}

// ---- the read round ----

// A bounded reader over a reply's INFO: a read past the end fails, and so does every read
// after it.
class Cursor {
 public:
  explicit Cursor(const std::vector<uint8_t>& info) : info_(info) {}
  bool U8(unsigned& v) {
    if (!ok_ || at_ >= info_.size()) return ok_ = false;
    v = info_[at_++];
    return true;
  }
  bool Skip(size_t n) {
    if (!ok_ || info_.size() - at_ < n) return ok_ = false;
    at_ += n;
    return true;
  }
  std::optional<unsigned> Peek(size_t offset) const {
    if (at_ + offset >= info_.size()) return std::nullopt;
    return info_[at_ + offset];
  }
  bool ok() const { return ok_; }
  size_t at() const { return at_; }

 private:
  const std::vector<uint8_t>& info_;
  size_t at_ = 0;
  bool ok_ = true;
};

// Reads one reply's counts into the system; false when the reply ends before its counts do.
using ReadReply = bool (*)(Cursor& c, FoundSystem& s, const std::string& reply);

bool Counted(Cursor& c, FoundSystem& s, const std::string& reply, const char* name,
             const std::string& where, size_t width) {
  unsigned n = 0;
  if (!c.U8(n)) return false;
  s.counts.push_back({reply, name, where, n});
  return c.Skip(width * n);
}

std::string Ac(size_t u) {
  return "AC unit " + std::to_string(u + 1);
}
std::string Channel(size_t u, size_t k) {
  return Ac(u) + " channel " + std::to_string(k + 1);
}
std::string ModuleName(size_t k) {
  return "module " + std::to_string(k + 1);
}
std::string Dc(size_t u) {
  return "DC unit " + std::to_string(u + 1);
}

//   FL UC | per unit: N | per channel: a b c f (16) p p×4 | ia ib ic (12)
bool AcAnalog(Cursor& c, FoundSystem& s, const std::string& r) {
  unsigned flags = 0, units = 0;
  if (!c.U8(flags) || !c.U8(units)) return false;
  s.acChannels.assign(units, 0);
  for (size_t u = 0; u < units; ++u) {
    unsigned n = 0;
    if (!c.U8(n)) return false;
    s.acChannels[u] = n;
    for (size_t k = 0; k < n; ++k)
      if (!c.Skip(16) || !Counted(c, s, r, "p", Channel(u, k), 4)) return false;
    if (!c.Skip(12)) return false;
  }
  return true;
}

//   FL UC | per unit: m m×1 | p p×1
bool AcSwitch(Cursor& c, FoundSystem& s, const std::string& r) {
  unsigned flags = 0, units = 0;
  if (!c.U8(flags) || !c.U8(units)) return false;
  for (size_t u = 0; u < units; ++u)
    if (!Counted(c, s, r, "m", Ac(u), 1) || !Counted(c, s, r, "p", Ac(u), 1)) return false;
  return true;
}

//   FL UC | per unit: lead | per channel: a b c f states (4) m m×1 p p×1 | ia ib ic states (3)
// The channels are those of the analog reply.
bool AcAlarm(Cursor& c, FoundSystem& s, const std::string& r) {
  unsigned flags = 0, units = 0;
  if (!c.U8(flags) || !c.U8(units)) return false;
  for (size_t u = 0; u < units; ++u) {
    if (!c.Skip(1)) return false;
    const size_t channels = u < s.acChannels.size() ? s.acChannels[u] : 0;
    for (size_t k = 0; k < channels; ++k)
      if (!c.Skip(4) || !Counted(c, s, r, "m", Channel(u, k), 1) ||
          !Counted(c, s, r, "p", Channel(u, k), 1))
        return false;
    if (!c.Skip(3)) return false;
  }
  return true;
}

//   FL | group (4) | n | per module: analog (4) p p×4
bool RcAnalog(Cursor& c, FoundSystem& s, const std::string& r) {
  unsigned flags = 0, n = 0;
  if (!c.U8(flags) || !c.Skip(4) || !c.U8(n)) return false;
  s.modules = n;
  for (size_t k = 0; k < n; ++k)
    if (!c.Skip(4) || !Counted(c, s, r, "p", ModuleName(k), 4)) return false;
  return true;
}

//   FL | n | per module: states (3) p p×1
bool RcSwitch(Cursor& c, FoundSystem& s, const std::string& r) {
  unsigned flags = 0, n = 0;
  if (!c.U8(flags) || !c.U8(n)) return false;
  for (size_t k = 0; k < n; ++k)
    if (!c.Skip(3) || !Counted(c, s, r, "p", ModuleName(k), 1)) return false;
  return true;
}

//   FL | n | per module: fault (1) p p×1
bool RcAlarm(Cursor& c, FoundSystem& s, const std::string& r) {
  unsigned flags = 0, n = 0;
  if (!c.U8(flags) || !c.U8(n)) return false;
  for (size_t k = 0; k < n; ++k)
    if (!c.Skip(1) || !Counted(c, s, r, "p", ModuleName(k), 1)) return false;
  return true;
}

//   FL UC | per unit: v i (8) m m×4 n n×4 p p×4
// With four units or more the parts start at UC itself, which is the first byte of the first
// unit's voltage.
bool DcAnalog(Cursor& c, FoundSystem& s, const std::string& r) {
  unsigned flags = 0, units = 0;
  if (!c.U8(flags)) return false;
  const auto count = c.Peek(0);
  if (!count) return false;
  s.dcUnits = *count;
  if (*count < 4 && !c.U8(units)) return false;
  for (size_t u = 0; u < s.dcUnits; ++u)
    if (!c.Skip(8) || !Counted(c, s, r, "m", Dc(u), 4) || !Counted(c, s, r, "n", Dc(u), 4) ||
        !Counted(c, s, r, "p", Dc(u), 4))
      return false;
  return true;
}

//   FL UC | per unit: voltage state (1) a a×1 q q×1
bool DcAlarm(Cursor& c, FoundSystem& s, const std::string& r) {
  unsigned flags = 0, units = 0;
  if (!c.U8(flags) || !c.U8(units)) return false;
  for (size_t u = 0; u < units; ++u)
    if (!c.Skip(1) || !Counted(c, s, r, "a", Dc(u), 1) || !Counted(c, s, r, "q", Dc(u), 1))
      return false;
  return true;
}

//   five values (20) | m m×4
bool AcParam(Cursor& c, FoundSystem& s, const std::string& r) {
  return c.Skip(20) && Counted(c, s, r, "m", "", 4);
}

//   two values (8) | p p×4
bool DcParam(Cursor& c, FoundSystem& s, const std::string& r) {
  return c.Skip(8) && Counted(c, s, r, "p", "", 4);
}

enum class WithInfo { No, Group, GroupIfV21 };

// The read requests of a full round, in the plugin's order. Nothing else is ever sent.
struct ReadStep {
  uint8_t cid1, cid2;
  WithInfo info;
  ReadReply read;
};
const ReadStep kRound[] = {
    {0x40, 0x41, WithInfo::Group, AcAnalog},      {0x40, 0x43, WithInfo::Group, AcSwitch},
    {0x40, 0x44, WithInfo::Group, AcAlarm},       {0x41, 0x41, WithInfo::No, RcAnalog},
    {0x41, 0x43, WithInfo::No, RcSwitch},         {0x41, 0x44, WithInfo::No, RcAlarm},
    {0x42, 0x41, WithInfo::GroupIfV21, DcAnalog}, {0x42, 0x44, WithInfo::GroupIfV21, DcAlarm},
    {0x40, 0x46, WithInfo::No, AcParam},          {0x42, 0x46, WithInfo::No, DcParam},
};

std::string StepText(uint8_t cid1, uint8_t cid2) {
  return Hex2(cid1) + "_" + Hex2(cid2);
}

// ---- what the plugin expects of the counts ----

enum class Rule { Exactly, AtMost };

// A count and what the plugin makes of another value. The number expected is the size of the
// array the count fills in the record layouts (a record with no such array expects none).
struct CountRule {
  const char* reply;
  const char* name;
  Rule rule;
  int dataType;
  bool inRepeat;      // the array is in the channel or module record
  const char* array;  // nullptr: the record keeps none
  const char* effect;
};
const CountRule kRules[] = {
    {"40_41", "p", Rule::Exactly, 5106, true, "p40_41",
     "the plugin logs a protocol error and skips the values"},
    {"40_43", "m", Rule::AtMost, 5106, false, nullptr, "the plugin refuses the reply"},
    {"40_43", "p", Rule::Exactly, 5106, false, "p40_43",
     "the plugin logs a protocol error and skips the states"},
    {"40_44", "m", Rule::Exactly, 5106, true, nullptr,
     "the plugin logs a protocol error and skips the states"},
    {"40_44", "p", Rule::Exactly, 5106, true, "p40_44",
     "the plugin logs a protocol error and skips the states"},
    {"41_41", "p", Rule::Exactly, 5107, true, "user_analog",
     "the plugin logs a protocol error and skips the values"},
    {"41_43", "p", Rule::Exactly, 5107, true, "user_state",
     "the plugin logs a protocol error and skips the state"},
    {"41_44", "p", Rule::Exactly, 5107, true, "user_alarm",
     "the plugin logs a protocol error and keeps no user alarms"},
    {"42_41", "m", Rule::AtMost, 5108, false, "m_value",
     "the plugin logs a protocol error and skips the values"},
    {"42_41", "n", Rule::AtMost, 5108, false, "n_value",
     "the plugin logs a protocol error and skips the values"},
    {"42_41", "p", Rule::AtMost, 5108, false, "user_p",
     "the plugin logs a protocol error and takes the rest of the reply as read"},
    {"42_44", "a", Rule::Exactly, 5108, false, "alert_m", "the plugin raises no fuse alarms"},
    {"42_44", "q", Rule::AtMost, 5108, false, "alert_p",
     "the plugin logs a protocol error and keeps the first ones"},
    {"42_46", "p", Rule::Exactly, 5107, false, "dc_user_param",
     "the plugin logs a protocol error and skips the parameters"},
};

const CountRule* RuleOf(const ScanCount& c) {
  for (const CountRule& r : kRules)
    if (c.reply == r.reply && c.name == r.name) return &r;
  return nullptr;  // 40_46 m: the plugin skips them, whatever their number
}

unsigned Expected(const CountRule& rule) {
  if (rule.array == nullptr) return 0;
  const Layout* layout = LayoutOf(rule.dataType);
  const Part& part = rule.inRepeat ? layout->repeat : layout->head;
  for (const Field& f : part.fields)
    if (std::strcmp(f.name, rule.array) == 0) return f.count;
  return 0;
}

bool Fits(const CountRule& rule, unsigned value) {
  return rule.rule == Rule::Exactly ? value == Expected(rule) : value <= Expected(rule);
}

std::string ExpectedText(const CountRule* rule) {
  if (rule == nullptr) return "any";
  return (rule->rule == Rule::AtMost ? "at most " : "") + std::to_string(Expected(*rule));
}

// ---- the serial line ----

class SerialLine : public ScanLine {
 public:
  ~SerialLine() override { Close(); }

  std::string Open(const std::string& port, unsigned baud) override {
    Close();
    const std::string why = Check(port);
    if (!why.empty()) return why;
    LinkContext context{io_, baud, [this](const unsigned char* d, size_t n) { Receive(d, n); },
                        [this](const std::string& w) { broken_ = w; }};
    LinkResult opened = OpenLink(port, context);
    if (!opened.link) {
      Close();
      return opened.code == boost::system::errc::inappropriate_io_control_operation
                 ? "not a serial line"
                 : opened.error;
    }
    link_ = opened.link;
    broken_.clear();
    return "";
  }

  void Close() override {
    if (link_) link_->Close();
    link_.reset();
    io_.restart();
    io_.poll();  // the aborted read
    if (lockFd_ >= 0) ::close(lockFd_);
    lockFd_ = -1;
  }

  Heard Exchange(const framing::Frame& request, unsigned timeoutMs) override {
    io_.restart();
    io_.poll();  // whatever came late belongs to no request
    receiver_.Clear();
    heard_.reset();
    if (!link_ || !broken_.empty()) return {};
    const std::string bytes = framing::Encode(request);
    deadline_ = Clock::now() + std::chrono::milliseconds(timeoutMs);
    link_->Write(reinterpret_cast<const unsigned char*>(bytes.data()),
                 static_cast<unsigned>(bytes.size()));
    while (!heard_ && broken_.empty()) {
      const auto now = Clock::now();
      if (now >= deadline_) break;
      io_.restart();
      io_.run_one_for(deadline_ - now);
    }
    return heard_.value_or(Heard{});
  }

  void Pause(unsigned ms) override { HostClock::Pause(ms * 1000u); }

 private:
  using Clock = std::chrono::steady_clock;

  // What the port is, before the link opens it: missing, busy or not a serial line is said
  // so. The port stays locked (flock) while the scan uses it.
  std::string Check(const std::string& port) {
    struct stat st {};
    if (::stat(port.c_str(), &st) != 0) return std::strerror(errno);
    if (!S_ISCHR(st.st_mode)) return "not a serial line (not a character device)";
    lockFd_ = ::open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (lockFd_ < 0)
      return errno == EBUSY ? "busy: another program has it open" : std::strerror(errno);
    if (!isatty(lockFd_)) return "not a serial line";
    if (flock(lockFd_, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
      return "busy: another program holds it";
    return "";
  }

  void Receive(const unsigned char* data, size_t n) {
    for (size_t k = 0; k < n && !heard_; ++k) {
      switch (receiver_.Feed(data[k])) {
        case framing::Receiver::Status::Incomplete:
          break;
        case framing::Receiver::Status::Frame:
          heard_ = Heard{Heard::Kind::Frame, receiver_.frame(), framing::Fault::None};
          break;
        case framing::Receiver::Status::Fault:
          heard_ = Heard{Heard::Kind::Fault, {}, receiver_.fault()};
          break;
      }
    }
    // A reply on its way is waited for, however long it is at this speed.
    if (!heard_ && receiver_.InFrame())
      deadline_ = std::max(deadline_, Clock::now() + std::chrono::milliseconds(kTurnRoundMs));
  }

  boost::asio::io_context io_;
  std::shared_ptr<ZelLink> link_;
  framing::Receiver receiver_;
  std::optional<Heard> heard_;
  std::string broken_;
  Clock::time_point deadline_;
  int lockFd_ = -1;
};

volatile std::sig_atomic_t interrupted = 0;
void OnInterrupt(int) {
  interrupted = 1;
}

// The plugin named in a written configuration: --plugin, or the one built beside zelhost.
std::string PluginPath(const std::string& given) {
  if (!given.empty()) return given;
  char exe[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n > 0) {
    exe[n] = '\0';
    std::string dir(exe);
    dir.erase(dir.rfind('/') + 1);
    for (const std::string& candidate : {dir + "../plugin/librvt2600.so", dir + "librvt2600.so"}) {
      char real[PATH_MAX];
      if (realpath(candidate.c_str(), real) != nullptr) return real;
    }
  }
  return "";
}

}  // namespace

const std::vector<unsigned>& DefaultScanBauds() {
  static const std::vector<unsigned> bauds = {9600, 19200, 4800, 2400, 1200};
  return bauds;
}

std::vector<unsigned> ParseBauds(const std::string& text) {
  static const std::set<unsigned> known = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
  std::vector<unsigned> out;
  for (const std::string& part : Split(text, ',')) {
    const unsigned baud = ParseNumber(part, "--baud");
    if (known.count(baud) == 0)
      throw UsageError("--baud: " + part + " is not a line speed (1200 to 115200)");
    if (std::find(out.begin(), out.end(), baud) == out.end()) out.push_back(baud);
  }
  if (out.empty()) throw UsageError("--baud: no speed given");
  return out;
}

std::vector<unsigned> ParseAddresses(const std::string& text) {
  std::vector<unsigned> out;
  std::set<unsigned> seen;
  for (const std::string& part : Split(text, ',')) {
    const size_t dash = part.find('-');
    const unsigned from = ParseNumber(part.substr(0, dash), "--address");
    const unsigned to =
        dash == std::string::npos ? from : ParseNumber(part.substr(dash + 1), "--address");
    if (from < 1 || to > 254 || from > to)
      throw UsageError("--address: \"" + part + "\" is not an address from 1 to 254, or A-B");
    for (unsigned a = from; a <= to; ++a)
      if (seen.insert(a).second) out.push_back(a);
  }
  if (out.empty()) throw UsageError("--address: no address given");
  return out;
}

std::string AddressText(const std::vector<unsigned>& addresses) {
  std::string out;
  for (size_t k = 0; k < addresses.size();) {
    size_t end = k;
    while (end + 1 < addresses.size() && addresses[end + 1] == addresses[end] + 1) ++end;
    if (!out.empty()) out += ",";
    out += std::to_string(addresses[k]);
    if (end > k) out += "-" + std::to_string(addresses[end]);
    k = end + 1;
  }
  return out;
}

unsigned TryTimeoutMs(unsigned baud) {
  return LineTimeMs(kModelQueryBytes, baud) + LineTimeMs(kModelReplyBytes, baud) + kTurnRoundMs;
}

unsigned TryMs(unsigned baud) {
  return TryTimeoutMs(baud) + kFramePauseMs;
}

uint64_t PortWorstCaseMs(const std::vector<unsigned>& bauds, size_t addresses) {
  uint64_t ms = 0;
  for (unsigned baud : bauds) ms += uint64_t{TryMs(baud)} * addresses;
  return ms;
}

std::string DurationText(uint64_t ms) {
  char text[32];
  if (ms < 60000) {
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ms) / 1000.0);
  } else if (ms < 3600000) {
    const uint64_t s = (ms + 999) / 1000;
    std::snprintf(text, sizeof text, "%u min %u s", static_cast<unsigned>(s / 60),
                  static_cast<unsigned>(s % 60));
  } else {
    const uint64_t min = (ms + 59999) / 60000;
    std::snprintf(text, sizeof text, "%u h %u min", static_cast<unsigned>(min / 60),
                  static_cast<unsigned>(min % 60));
  }
  return text;
}

std::unique_ptr<ScanLine> SerialScanLine() {
  return std::make_unique<SerialLine>();
}

std::vector<std::string> FoundSystem::Differences() const {
  std::vector<std::string> out;
  for (const ScanCount& c : counts) {
    const CountRule* rule = RuleOf(c);
    if (rule == nullptr || Fits(*rule, c.value)) continue;
    out.push_back(c.reply + " " + c.name + (c.where.empty() ? "" : " of " + c.where) + " is " +
                  std::to_string(c.value) + ", the plugin expects " + ExpectedText(rule) + ": " +
                  rule->effect);
  }
  return out;
}

Scanner::Scanner(ScanLine& line, std::ostream& progress, std::function<bool()> stop)
    : line_(line), progress_(progress), stop_(std::move(stop)) {}

ScanResult Scanner::Run(const std::vector<std::string>& ports, const std::vector<unsigned>& bauds,
                        const std::vector<unsigned>& addresses, bool first) {
  ScanResult result;
  const uint64_t perPort = PortWorstCaseMs(bauds, addresses.size());
  progress_ << "scan: " << ports.size() << (ports.size() == 1 ? " port" : " ports") << ", "
            << bauds.size() << (bauds.size() == 1 ? " speed" : " speeds") << " x "
            << addresses.size() << (addresses.size() == 1 ? " address" : " addresses")
            << ", at most " << DurationText(perPort * ports.size()) << " when nothing answers"
            << std::endl;
  uint64_t left = perPort * ports.size();  // the worst case of what is still to try

  for (const std::string& port : ports) {
    uint64_t portLeft = perPort;
    for (unsigned baud : bauds) {
      if (stop_()) break;
      const std::string why = line_.Open(port, baud);
      if (!why.empty()) {
        progress_ << port << ": " << why << std::endl;
        break;
      }
      progress_ << port << " at " << baud << " baud, "
                << (addresses.size() == 1 ? "address " : "addresses ") << AddressText(addresses)
                << ": at most " << DurationText(left) << " left" << std::endl;
      bool found = false;
      for (unsigned address : addresses) {
        if (stop_()) break;
        framing::Frame query;
        query.ver = kVer;
        query.adr = static_cast<uint8_t>(address);
        query.cid1 = 0x40;
        query.cid2 = 0x51;
        const ScanLine::Heard heard = line_.Exchange(query, TryTimeoutMs(baud));
        line_.Pause(kFramePauseMs);
        left -= TryMs(baud);
        portLeft -= TryMs(baud);
        if (heard.kind == ScanLine::Heard::Kind::Fault) {
          progress_ << port << " at " << baud << " baud, address " << address << ": a reply with "
                    << framing::FaultText(heard.fault) << ": something answers at another speed"
                    << std::endl;
          continue;
        }
        if (heard.kind != ScanLine::Heard::Kind::Frame) continue;
        if (heard.frame.adr != address) {
          progress_ << port << " at " << baud << " baud, address " << address
                    << ": a reply from address " << unsigned{heard.frame.adr}
                    << ": something answers at another address" << std::endl;
          continue;
        }
        FoundSystem s;
        s.port = port;
        s.baud = baud;
        s.address = address;
        s.ver = heard.frame.ver;
        s.rtn = heard.frame.cid2;
        s.model = ModelText(heard.frame.info);
        progress_ << port << " at " << baud << " baud, address " << address << ": found \""
                  << Shown(s.model) << "\"" << std::endl;
        result.systems.push_back(std::move(s));
        found = true;
        if (first) break;
      }
      // The speed the port answers at is the port's: its other speeds are not tried.
      if (found) break;
      if (stop_()) break;
      line_.Close();
    }
    left -= portLeft;  // what this port did not need to try
    // One round of read requests for each power system found on this port, after Ctrl-C too:
    // what was found is worth its configuration.
    for (FoundSystem& s : result.systems) {
      if (s.port != port) continue;
      progress_ << "read " << port << " at " << s.baud << " baud, address " << s.address
                << ": one round of read requests" << std::endl;
      ReadRound(s);
    }
    line_.Close();
    if (stop_() || (first && !result.systems.empty())) break;
  }
  result.interrupted = stop_();
  progress_ << "scan: " << result.systems.size()
            << (result.systems.size() == 1 ? " power system" : " power systems") << " found"
            << (result.interrupted ? " before it was interrupted" : "") << std::endl;
  return result;
}

void Scanner::ReadRound(FoundSystem& s) {
  for (const ReadStep& step : kRound) {
    framing::Frame request;
    request.ver = kVer;
    request.adr = static_cast<uint8_t>(s.address);
    request.cid1 = step.cid1;
    request.cid2 = step.cid2;
    if (step.info == WithInfo::Group || (step.info == WithInfo::GroupIfV21 && s.ver == 0x21))
      request.info.push_back(kGroup);
    const std::string name = StepText(step.cid1, step.cid2);
    const unsigned timeout = kReadTimeoutMs + LineTimeMs(kModelQueryBytes + 2, s.baud);
    const ScanLine::Heard heard = line_.Exchange(request, timeout);
    line_.Pause(kFramePauseMs);
    if (heard.kind == ScanLine::Heard::Kind::Nothing) {
      s.problems.push_back(name + ": no reply");
    } else if (heard.kind == ScanLine::Heard::Kind::Fault) {
      s.problems.push_back(name + ": reply dropped: " + framing::FaultText(heard.fault));
    } else if (heard.frame.adr != s.address || heard.frame.cid1 != step.cid1) {
      s.problems.push_back(name + ": a reply to something else (ADR " + Hex2(heard.frame.adr) +
                           ", CID1 " + Hex2(heard.frame.cid1) + ")");
    } else if (heard.frame.cid2 != 0) {
      s.problems.push_back(name + ": RTN " + Hex2(heard.frame.cid2));
    } else {
      Cursor c(heard.frame.info);
      if (!step.read(c, s, name))
        s.problems.push_back(name + ": the reply ends before its counts do (" +
                             std::to_string(heard.frame.info.size()) + " bytes)");
    }
  }
}

void PrintSystem(std::ostream& out, const FoundSystem& s, size_t index, size_t of) {
  out << "power system " << index << " of " << of << "\n";
  out << "  port             " << s.port << "\n";
  out << "  speed            " << s.baud << " baud\n";
  out << "  address          " << s.address << "\n";
  out << "  VER              " << Hex2(s.ver) << (s.rtn != 0 ? " (RTN " + Hex2(s.rtn) + ")" : "")
      << "\n";
  out << "  model            \"" << Shown(s.model) << "\"\n";
  out << "  AC units         " << s.acChannels.size();
  if (!s.acChannels.empty()) {
    out << " (channels";
    for (size_t u = 0; u < s.acChannels.size(); ++u) out << (u ? ", " : " ") << s.acChannels[u];
    out << ")";
  }
  out << "\n";
  out << "  DC units         " << s.dcUnits << "\n";
  out << "  rectifier        " << s.modules << (s.modules == 1 ? " module" : " modules") << "\n";
  out << "  user-defined counts: reported / the plugin's\n";
  // One line a count: its values in the order reported, each once.
  std::vector<std::pair<std::string, std::vector<unsigned>>> rows;
  for (const ScanCount& c : s.counts) {
    const std::string key = c.reply + " " + c.name;
    auto row =
        std::find_if(rows.begin(), rows.end(), [&](const auto& r) { return r.first == key; });
    if (row == rows.end()) row = rows.insert(rows.end(), {key, {}});
    if (std::find(row->second.begin(), row->second.end(), c.value) == row->second.end())
      row->second.push_back(c.value);
  }
  for (const auto& row : rows) {
    std::string values;
    for (unsigned v : row.second) values += (values.empty() ? "" : ", ") + std::to_string(v);
    ScanCount probe;
    probe.reply = row.first.substr(0, 5);
    probe.name = row.first.substr(6);
    char line[96];
    std::snprintf(line, sizeof line, "    %-8s %-10s / %s\n", row.first.c_str(), values.c_str(),
                  ExpectedText(RuleOf(probe)).c_str());
    out << line;
  }
  for (const std::string& p : s.problems) out << "  not read: " << p << "\n";
  const std::vector<std::string> diff = s.Differences();
  if (diff.empty()) {
    out << "  differences from the plugin: none\n";
  } else {
    out << "  differences from the plugin:\n";
    for (const std::string& d : diff) out << "    " << d << "\n";
  }
}

std::string ScanConfig(const std::vector<FoundSystem>& systems, const std::string& plugin) {
  Json::Value root(Json::objectValue);
  root["plugin"] = plugin;
  Json::Value& devices = root["devices"] = Json::Value(Json::arrayValue);
  for (size_t k = 0; k < systems.size(); ++k) {
    const FoundSystem& s = systems[k];
    const unsigned base = static_cast<unsigned>(k + 1) * 100;
    Json::Value device(Json::objectValue);
    device["type"] = "rvt2600";
    device["data_id"] = base;
    Json::Value& settings = device["settings"] = Json::Value(Json::objectValue);
    settings["port"] = s.port;
    settings["baud"] = s.baud;
    settings["address"] = s.address;
    Json::Value& ac = settings["acSetting"] = Json::Value(Json::arrayValue);
    for (size_t u = 0; u < s.acChannels.size(); ++u) {
      Json::Value unit(Json::objectValue);
      unit["data_id"] = base + static_cast<unsigned>(u) + 1;
      ac.append(unit);
    }
    Json::Value& dc = settings["dcSetting"] = Json::Value(Json::arrayValue);
    for (unsigned d = 0; d < s.dcUnits; ++d) {
      Json::Value unit(Json::objectValue);
      unit["data_id"] = base + 50 + d + 1;
      dc.append(unit);
    }
    settings["rcSetting"] = Json::Value(Json::objectValue);
    devices.append(device);
  }
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "  ";
  builder["emitUTF8"] = true;
  return Json::writeString(builder, root) + "\n";
}

int RunScan(const Options& options) {
  const std::vector<unsigned> bauds =
      options.scanBaud.empty() ? DefaultScanBauds() : ParseBauds(options.scanBaud);
  const std::vector<unsigned> addresses =
      ParseAddresses(options.scanAddress.empty() ? std::string("1-254") : options.scanAddress);

  // Ctrl-C ends the scan with what was found so far.
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  interrupted = 0;

  HostClock::UseWallClock();
  std::unique_ptr<ScanLine> line = SerialScanLine();
  Scanner scanner(*line, std::cerr, [] { return interrupted != 0; });
  const ScanResult result = scanner.Run(options.scanPorts, bauds, addresses, options.scanFirst);

  // Each system at its own limits: data ids K*100 + 1..49 for AC units, K*100 + 51..99 for DC.
  for (size_t k = 0; k < result.systems.size(); ++k) {
    PrintSystem(std::cout, result.systems[k], k + 1, result.systems.size());
    std::cout << std::flush;
  }
  if (!options.scanWrite.empty() && !result.systems.empty()) {
    for (const FoundSystem& s : result.systems)
      if (s.acChannels.size() > 49 || s.dcUnits > 49)
        throw UserError("cannot write " + options.scanWrite + ": " + s.port + " address " +
                        std::to_string(s.address) + " has more units than data ids 1-49 hold");
    std::string plugin = PluginPath(options.plugin);
    if (plugin.empty()) {
      plugin = "librvt2600.so";
      std::cerr << "zelhost: the plugin is not beside zelhost: name it with --plugin, or edit "
                   "\"plugin\" in "
                << options.scanWrite << std::endl;
    }
    std::ofstream out(options.scanWrite);
    out << ScanConfig(result.systems, plugin);
    if (!out.flush())
      throw UserError("cannot write " + options.scanWrite + ": " + std::strerror(errno));
    std::cerr << "scan: configuration written to " << options.scanWrite << std::endl;
    std::set<std::string> ports;
    for (const FoundSystem& s : result.systems)
      if (!ports.insert(s.port).second)
        std::cerr << "scan: " << s.port << " carries several power systems; zelhost opens the "
                  << "port once for each device, so run their devices one at a time" << std::endl;
  }
  return result.systems.empty() ? 1 : 0;
}

}  // namespace zel
