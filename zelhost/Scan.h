#pragma once

// The commissioning scan: finds the power systems on serial lines (port, speed, address) with
// the model query, reads one round of read requests from each, and writes a configuration
// that runs as it stands.
//
//   zelhost --scan PORT... [--baud 9600,19200] [--address 1-254] [--first] [--write FILE]
//
// Data ids in the written configuration, for the K-th power system found (K from 1): the root
// (and with it the rectifier unit) K*100, AC unit U (from 1) K*100+U, DC unit D K*100+50+D.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "Frame.h"
#include "Program.h"

namespace zel {

// The speeds tried when --baud names none, in this order.
const std::vector<unsigned>& DefaultScanBauds();
// "9600,19200"; throws UsageError.
std::vector<unsigned> ParseBauds(const std::string& text);
// "1-254", "7", "1-5,12"; addresses 1 to 254, each once, in the order given. Throws UsageError.
std::vector<unsigned> ParseAddresses(const std::string& text);
// The addresses as the shortest text that ParseAddresses reads back: "1-5,12".
std::string AddressText(const std::vector<unsigned>& addresses);

// Timing of one try: the request and a model reply on the line at the speed, and a margin for
// the power system to turn round, then the pause the line needs between frames.
constexpr size_t kModelQueryBytes = 18;  // SOI, VER ADR CID1 CID2 LENGTH CHKSUM, EOI
constexpr size_t kModelReplyBytes = 58;  // the same with 20 INFO bytes
constexpr unsigned kTurnRoundMs = 100;
constexpr unsigned kFramePauseMs = 20;
unsigned TryTimeoutMs(unsigned baud);
unsigned TryMs(unsigned baud);  // the timeout and the pause: a try that hears nothing
// The longest a scan of one port takes: every speed, every address, nothing answering.
uint64_t PortWorstCaseMs(const std::vector<unsigned>& bauds, size_t addresses);
// "0.8 s", "50.8 s", "7 min 45 s", "1 h 2 min".
std::string DurationText(uint64_t ms);

// The serial line as the scan uses it; tests put a line of their own on the virtual clock.
class ScanLine {
 public:
  struct Heard {
    enum class Kind { Nothing, Frame, Fault } kind = Kind::Nothing;
    framing::Frame frame;                         // Kind::Frame
    framing::Fault fault = framing::Fault::None;  // Kind::Fault: a frame that started
  };
  virtual ~ScanLine() = default;
  // Opens the port at the speed: empty, or why not, in a few words ("busy: ...").
  virtual std::string Open(const std::string& port, unsigned baud) = 0;
  virtual void Close() = 0;
  // Writes the request and waits for the reply, at most `timeoutMs` for it to start.
  virtual Heard Exchange(const framing::Frame& request, unsigned timeoutMs) = 0;
  // The pause between a reply (or its timeout) and the next request.
  virtual void Pause(unsigned ms) = 0;
};
// The serial ports of the stand-in host, and the host's pause.
std::unique_ptr<ScanLine> SerialScanLine();

// A count byte of a reply: which reply, which count, where ("AC 1 channel 2"), its value.
struct ScanCount {
  std::string reply;  // "40_44"
  std::string name;   // "p"
  std::string where;
  unsigned value = 0;
};

struct FoundSystem {
  std::string port;
  unsigned baud = 0;
  unsigned address = 0;
  uint8_t ver = 0;
  uint8_t rtn = 0;
  std::string model;                 // as received, fill trimmed
  std::vector<unsigned> acChannels;  // per AC unit, from the AC analog reply
  unsigned dcUnits = 0;
  unsigned modules = 0;
  std::vector<ScanCount> counts;      // in request order
  std::vector<std::string> problems;  // replies that did not come or did not read
  // What the plugin will make of the counts: one line each ("41_41 p of module 2 is 2, ...").
  std::vector<std::string> Differences() const;
};

struct ScanResult {
  std::vector<FoundSystem> systems;
  bool interrupted = false;
};

class Scanner {
 public:
  // Progress to `progress`; `stop` is asked between tries (Ctrl-C).
  Scanner(ScanLine& line, std::ostream& progress, std::function<bool()> stop);
  ScanResult Run(const std::vector<std::string>& ports, const std::vector<unsigned>& bauds,
                 const std::vector<unsigned>& addresses, bool first);

 private:
  void ReadRound(FoundSystem& system);

  ScanLine& line_;
  std::ostream& progress_;
  std::function<bool()> stop_;
};

// The table of one power system, as the scan prints it.
void PrintSystem(std::ostream& out, const FoundSystem& system, size_t index, size_t of);
// The configuration for the systems found: one "rvt2600" device each.
std::string ScanConfig(const std::vector<FoundSystem>& systems, const std::string& plugin);

// zelhost --scan: the exit status (0 found, 1 nothing). Throws UsageError, UserError.
int RunScan(const Options& options);

}  // namespace zel
