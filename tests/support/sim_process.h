#pragma once
// Runs the project's device simulator (mistvale-sim) as a child process of a test.
//
//   SimProcess sim;
//   ASSERT_TRUE(sim.StartTcp(R"(<Simulator><Device slave="1"><Holding address="0"
//   value="7"/></Device></Simulator>)")); modbus_t* ctx = modbus_new_tcp("127.0.0.1", sim.Port());   // talk
//   Modbus to it EXPECT_EQ(sim.Command("get hr 0"), "7");                    // control commands (see
//   sim/README.md) EXPECT_TRUE(sim.Ok("silent 1")); std::vector<SimLogEntry> log = sim.ReadLog(); // what it
//   was asked, and when
//
// Every simulator is started with a time limit (--max-seconds, default 120 s) and with --exit-on-eof,
// and is stopped by Stop() or the destructor (SIGTERM, then SIGKILL after 3 s). Each one gets its own
// temporary directory for its configuration file and its request log.

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

#include <string>
#include <vector>

namespace mistvale {

// One line of the simulator's request log (format in sim/request_log.h).
struct SimLogEntry {
    double time = 0;       // steady_clock seconds, comparable with std::chrono::steady_clock::now()
    std::string transport; // "tcp" or "rtu"
    unsigned slave = 0;
    unsigned function = 0;
    unsigned address = 0;
    unsigned count = 0;
    std::string outcome; // "reply", "exception:2", "silent", "drop", "ignored", "nodevice", "badcrc"
};

// One whole frame the simulator received ("rx") or sent ("tx"), its bytes as "05 03 00 64 00 01 C4 51".
struct SimFrame {
    std::string direction;
    std::string hex;
};

class SimProcess {
public:
    SimProcess();
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Path of the mistvale-sim program of this build.
    static const char* BinaryPath();

    // The time limit passed to the simulators started afterwards (seconds).
    void SetMaxSeconds(double seconds) { maxSeconds_ = seconds; }

    // Starts the simulator on a free TCP port of 127.0.0.1. `configXml` is the configuration text;
    // empty uses the simulator's default demonstration device. `extraArgs` are added to the command
    // line. Returns once the simulator reported "ready" (false when it failed or took over 10 s).
    bool StartTcp(const std::string& configXml = "", const std::vector<std::string>& extraArgs = {});
    // Starts the simulator as RTU slave(s) on the serial device `device` (one end of a PtyPair).
    bool StartRtu(const std::string& device, int baud = 38400, char parity = 'N',
                  const std::string& configXml = "", const std::vector<std::string>& extraArgs = {});

    // TCP port and address while running with TCP (0 / empty otherwise).
    int Port() const { return port_; }
    const std::string& Address() const { return address_; }
    // Port() as text, for modbus_new_tcp_pi and for connection paths.
    std::string PortText() const { return std::to_string(port_); }

    // Sends one control command and returns its reply line ("ok", a value, or "error ..."); empty when
    // no reply came within timeoutMs.
    std::string Command(const std::string& line, int timeoutMs = 3000);
    // Command(line) == "ok".
    bool Ok(const std::string& line) { return Command(line) == "ok"; }

    // Every line of the request log so far, in order.
    std::vector<SimLogEntry> ReadLog() const;
    const std::string& LogPath() const { return logPath_; }
    // Every frame it received and sent so far, in order.
    std::vector<SimFrame> ReadFrames() const;
    // Waits at most timeoutMs until the log holds at least `count` lines; returns the log then.
    std::vector<SimLogEntry> WaitForLog(size_t count, int timeoutMs = 3000) const;

    bool Running() { return child_.Running(); }
    // Stops the simulator (SIGTERM, SIGKILL after 3 s). Returns the raw wait status, -1 if none ran.
    int Stop() { return child_.Stop(3000); }
    // The child process itself, for signal tests.
    ChildProcess& Child() { return child_; }

private:
    bool Launch(std::vector<std::string> args, const std::string& configXml);

    TempDir dir_;
    ChildProcess child_;
    double maxSeconds_ = 120;
    int port_ = 0;
    std::string address_;
    std::string logPath_;
    std::string framesPath_;
};

} // namespace mistvale
