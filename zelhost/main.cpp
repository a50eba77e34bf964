// zelhost: the bench host for the driver plugin.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>
#include <vector>

#include "Program.h"

int main(int argc, char** argv) {
  zel::Options o;
  CLI::App app{
      "Bench host: loads the driver plugin, polls its devices over serial lines or a "
      "replay file, and prints what they publish."};
  app.add_option("--config", o.config, "configuration file (JSON)");
  app.add_option("--plugin", o.plugin, "the plugin's shared object (overrides \"plugin\")");
  app.add_option("--rounds", o.rounds, "stop after N complete rounds of every device")
      ->check(CLI::Range(1, 1000000000));
  app.add_option("--events", o.events, "JSON events, one a line, to FILE (- for standard output)");
  app.add_option("--replay", o.replay, "answer every request from FILE instead of the lines");
  app.add_option("--record", o.record, "write every reply as received to FILE, in replay format");
  app.add_option("--history", o.history, "SQLite history database (overrides \"history\")");
  app.add_option("--keep-days", o.keepDays,
                 "keep the history's last N days (fractional: 0.25 is six hours); "
                 "overrides \"keep_days\"")
      ->check(CLI::PositiveNumber);
  app.add_flag("--trace", o.trace, "print every frame (>> sent, << received) on standard error");
  auto* exportOption =
      app.add_option("--export", o.exportFormat,
                     "print the --history decoded instead of running: csv, jsonl or alarms")
          ->check(CLI::IsMember({"csv", "jsonl", "alarms"}));
  auto* reportOption = app.add_option("--report", o.report,
                                      "write the --history's session report (one HTML page) to "
                                      "FILE instead of running")
                           ->excludes(exportOption);
  // The range goes with either.
  const std::vector<CLI::Option*> range = {
      app.add_option("--data-id", o.dataId, "export, report: only this data id"),
      app.add_option("--from", o.from,
                     "export, report: from this time on (2026-01-01[THH:MM[:SS]])"),
      app.add_option("--to", o.to, "export, report: up to, not including, this time")};
  auto* scanOption = app.add_option(
      "--scan", o.scanPorts,
      "find the power systems on these serial ports instead of running (no --config needed)");
  app.add_option("--baud", o.scanBaud, "scan: the speeds to try, e.g. 9600,19200")
      ->needs(scanOption);
  app.add_option("--address", o.scanAddress, "scan: the addresses to try, e.g. 1-254 or 1-5,12")
      ->needs(scanOption);
  app.add_flag("--first", o.scanFirst, "scan: stop at the first power system found")
      ->needs(scanOption);
  app.add_option("--write", o.scanWrite, "scan: write a configuration for what was found to FILE")
      ->needs(scanOption);
  app.failure_message([](const CLI::App*, const CLI::Error& e) {
    return "zelhost: " + std::string(e.what()) + " (see --help)\n";
  });
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e);
    // A scan's usage errors end with 2, as its own checks of --baud and --address do.
    for (int k = 1; k < argc; ++k)
      if (status != 0 && std::string(argv[k]).rfind("--scan", 0) == 0) return 2;
    return status;
  }
  for (const CLI::Option* option : range)
    if (option->count() && !exportOption->count() && !reportOption->count()) {
      std::fprintf(stderr, "zelhost: %s requires --export or --report (see --help)\n",
                   option->get_name().c_str());
      return 1;
    }

  try {
    return zel::Run(o);
  } catch (const zel::UsageError& e) {
    std::fprintf(stderr, "zelhost: %s (see --help)\n", e.what());
    return 2;
  } catch (const zel::UserError& e) {
    std::fprintf(stderr, "zelhost: %s\n", e.what());
    return 1;
  }
}
