#include "sim/stop_signals.h"

#include <csignal>

namespace mvsim {

static volatile std::sig_atomic_t stopRequested = 0;

static void OnStopSignal(int) {
    stopRequested = 1;
}

void InstallStopSignals() {
    struct sigaction action = {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: the poll in the server loop returns at once with EINTR.
    action.sa_flags = 0;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

bool StopRequested() {
    return stopRequested != 0;
}

} // namespace mvsim
