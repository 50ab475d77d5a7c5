#pragma once
// The simulator's event loop: Modbus TCP clients, one RTU line, the control channels (standard input
// and an optional unix socket) and the reply queue, all served by one thread with poll().

#include "sim/sim_device.h"

#include <memory>
#include <string>
#include <vector>

namespace mvsim {

struct SimServerOptions {
    bool tcp = false;
    std::string tcpAddress = "127.0.0.1";
    std::string tcpPort = "1502"; // "0": the system picks a free port, which is printed
    std::string rtuDevice;        // empty: no RTU line
    int baud = 38400;
    char parity = 'N';
    std::string controlPath; // unix socket for control commands; empty: none
    std::string logPath;     // request log; empty: none
    std::string framesPath;  // every frame received and sent, in hex; empty: none
    double maxSeconds = 0;   // > 0: stop after this long
    bool exitOnEof = false;  // stop when standard input ends
    // RTU: each reply is held back for the time its request and it take on a real line at the baud
    // rate (11 bits a character, and the 3.5-character gap after each frame); a pseudo-terminal has
    // no rate of its own.
    bool pace = false;
};

// The time a frame of `bytes` bytes and the 3.5-character gap after it take on a line at baud.
double RtuFrameSeconds(size_t bytes, int baud);

// Serves until a stop signal, "quit", the time limit or (with exitOnEof) the end of standard input.
// Prints "tcp <address> <port>", "rtu <device>", "control <path>" as each is set up and then "ready" on
// standard output; command replies follow, one line each. Returns the process exit code (0 after a
// clean stop, 2 when something could not be set up).
int RunSimServer(const SimServerOptions& options, std::vector<std::unique_ptr<SimDevice>>& devices);

} // namespace mvsim
