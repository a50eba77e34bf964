#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace zel {

// The command line of zelhost.
struct Options {
  std::string config;
  std::string plugin;   // overrides the configuration's "plugin"
  std::string events;   // "-" for standard output; empty: human summary
  std::string replay;   // replay file instead of the serial lines
  std::string record;   // replies as received, in the replay format
  std::string history;  // SQLite file; overrides the configuration's "history"
  uint64_t rounds = 0;  // stop after this many complete rounds of every device; 0: no limit
  double keepDays = 0;  // keep the history's last N days (overrides "keep_days"); 0: all
  bool trace = false;
  // Export of the history instead of a session: "csv", "jsonl" or "alarms", over a range.
  std::string exportFormat;
  std::optional<unsigned int> dataId;
  std::string from, to;
  // The history's session report, one HTML page, to this file instead of a session.
  std::string report;
  // The commissioning scan instead of a session: ports, speeds, addresses (Scan.h).
  std::vector<std::string> scanPorts;
  std::string scanBaud, scanAddress, scanWrite;
  bool scanFirst = false;
};

// A mistake of the user's: reported as one line, with a non-zero exit.
class UserError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A command line that does not make sense: exit status 2.
class UsageError : public UserError {
 public:
  using UserError::UserError;
};

// Runs the bench program; the exit status. Throws UserError.
int Run(const Options& options);

}  // namespace zel
