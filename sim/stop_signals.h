#pragma once

namespace mvsim {
// Stop requests from the system (SIGTERM, SIGINT, SIGHUP): the server loop polls for them.

// Installs the handlers and makes writes to closed connections fail instead of ending the process.
void InstallStopSignals();
// True once a stop signal arrived.
bool StopRequested();

} // namespace mvsim
