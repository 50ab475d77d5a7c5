#pragma once
// The simulator's run-time control: one command per line, one reply line per command. The commands
// are listed in sim/README.md.

#include "sim/sim_device.h"

#include <memory>
#include <string>
#include <vector>

namespace mvsim {

enum class ControlOutcome { Done, Quit };

// Runs one command line against the devices. `reply` receives the reply line without its newline:
// "ok", a value for "get", or "error <reason>". `elapsedMs` is the time since start (for "get" of a
// moving register).
ControlOutcome RunControlCommand(const std::string& line, std::vector<std::unique_ptr<SimDevice>>& devices,
                                 uint64_t elapsedMs, std::string& reply);

} // namespace mvsim
