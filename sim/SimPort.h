#pragma once

#include <string>

#include "Port.h"

// "sim" or "sim:FILE" as a device's port: the simulator serves the scenario (the default site,
// or FILE) on a pty pair inside the bench host, and the device's line is opened on the pty's
// other end like any serial device, so that the plugin talks to it through the real serial path.
namespace sim {

bool IsSimPort(const std::string& port);
// The link, or why the scenario or the pty did not open.
zel::LinkResult OpenSimPort(const std::string& port, const zel::LinkContext& context);

}  // namespace sim
