// rvt2600-sim: a power system that answers the command chain on a pty or a serial device.
#include <pthread.h>
#include <CLI/CLI.hpp>
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "LineServer.h"

int main(int argc, char** argv) {
  CLI::App app{"A simulated RVT2600 power system on a serial line"};
  std::vector<std::string> scenarioPaths;
  std::string device;
  unsigned baud = 9600;
  bool pty = false;
  bool trace = false;
  app.add_option("--scenario", scenarioPaths,
                 "scenario file (JSON); the default site if absent; several: power systems at "
                 "different addresses on one bus");
  auto* ptyOpt = app.add_flag("--pty", pty, "serve on a pty pair and print the path of its end");
  auto* devOpt = app.add_option("--device", device, "serve on this serial device");
  app.add_option("--baud", baud, "line speed of --device")->capture_default_str();
  app.add_flag("--trace", trace, "print every frame: << received, >> sent");
  ptyOpt->excludes(devOpt);
  devOpt->excludes(ptyOpt);
  CLI11_PARSE(app, argc, argv);
  if (!pty && device.empty()) {
    std::cerr << "rvt2600-sim: give --pty or --device PATH\n";
    return 2;
  }

  // Ended by SIGINT or SIGTERM, taken on this thread only.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  try {
    std::vector<sim::Scenario> scenarios;
    for (const std::string& path : scenarioPaths) scenarios.push_back(sim::Scenario::Load(path));
    if (scenarios.empty()) scenarios.push_back(sim::Scenario::Default());
    sim::LineServer server(std::move(scenarios));
    if (pty) {
      server.OpenPty();
    } else {
      server.OpenDevice(device, baud);
    }
    if (trace) server.SetTrace([](const std::string& line) { std::cerr << line << std::endl; });
    server.Start();
    std::cout << server.Path() << std::endl;
    int signal = 0;
    sigwait(&stopSignals, &signal);
    server.Stop();
  } catch (const std::exception& e) {
    std::cerr << "rvt2600-sim: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
