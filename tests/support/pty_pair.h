#pragma once
// A pair of connected pseudo-terminals made by socat, standing in for a serial line in tests:
// whatever is written to one end can be read at the other.
//
//   PtyPair line;
//   ASSERT_TRUE(line.Open());
//   sim.StartRtu(line.DevicePath());                    // the simulator takes one end
//   modbus_new_rtu(line.PeerPath().c_str(), ...);       // the code under test the other
//
// The ends are symbolic links in a temporary directory of their own; socat is stopped and the
// directory removed when the object ends. No real serial port is touched.

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

#include <string>

namespace mistvale {

class PtyPair {
public:
    PtyPair() = default;
    ~PtyPair() { Close(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    // Starts socat and waits at most timeoutMs until both ends exist.
    bool Open(int timeoutMs = 5000);
    // Stops socat; the ends disappear.
    void Close();

    // The end for the simulator (or the device side of a test).
    const std::string& DevicePath() const { return devicePath_; }
    // The end for the client (the code under test).
    const std::string& PeerPath() const { return peerPath_; }

private:
    TempDir dir_;
    ChildProcess socat_;
    std::string devicePath_;
    std::string peerPath_;
};

} // namespace mistvale
