#pragma once
// Groups read pass by pass as a line reads them, and devices of the simulator on a pseudo-terminal pair
// or over TCP, for the tests of refresh passes and value types.
#include "modbus/read_group_values.h"
#include "model/group.h"
#include "model/source.h"
#include "tests/support/pty_pair.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace mistvale {

// A group of sources at the given register paths, read pass by pass as a line reads it.
class TestGroup {
public:
    explicit TestGroup(const std::string& connection) {
        group_.SetParameter(WideString::FromUtf8(connection.c_str()));
    }
    ~TestGroup() {
        for (Source* source : sources_)
            delete source;
    }
    TestGroup(const TestGroup&) = delete;
    TestGroup& operator=(const TestGroup&) = delete;
    Source* Add(const std::string& path) {
        Source* source = new Source();
        source->SetParameter(WideString::FromUtf8(path.c_str()));
        sources_.push_back(source);
        return source;
    }
    void Pass() {
        static const std::atomic<bool> kRun{false};
        ReadGroupValues(group_, sources_.data(), sources_.size(), kRun);
    }
    std::string Value(size_t i) const { return sources_[i]->Value().ToUtf8(); }
    std::string Reason(size_t i) const { return sources_[i]->Outcome().reason; }
    size_t Size() const { return sources_.size(); }

private:
    Group group_;
    std::vector<Source*> sources_;
};

// Serial ports for the program: each pair's peer under a name of its own.
class SerialPorts {
public:
    void Add(const std::string& name, const std::string& peer) {
        const std::string link = dir_.File(name);
        EXPECT_EQ(symlink(peer.c_str(), link.c_str()), 0);
        list_ += (list_.empty() ? "" : ":") + link;
        setenv("MISTVALE_SERIAL_PORTS", list_.c_str(), 1);
        setenv("MISTVALE_SERIAL_PORTS_ONLY", "1", 1);
    }
    ~SerialPorts() {
        unsetenv("MISTVALE_SERIAL_PORTS");
        unsetenv("MISTVALE_SERIAL_PORTS_ONLY");
    }

private:
    TempDir dir_;
    std::string list_;
};

// A simulator on one end of a pseudo-terminal pair, its other end listed as port `name`.
struct SerialDevice {
    bool Start(SerialPorts& ports, const std::string& name, const std::string& config,
               const std::vector<std::string>& extra = {}) {
        sim.SetMaxSeconds(120);
        if (!line.Open() || !sim.StartRtu(line.DevicePath(), 38400, 'N', config, extra))
            return false;
        ports.Add(name, line.PeerPath());
        return true;
    }
    PtyPair line;
    SimProcess sim;
};

// One device with the configuration, on a serial line (slave `slave`, port "line") or over TCP (unit 1).
struct EitherLine {
    bool Start(bool rtu, const std::string& config, unsigned slave) {
        if (rtu) {
            connection = "ModbusSerial/38400/N/line/" + std::to_string(slave);
            sim = &serial.sim;
            return serial.Start(ports, "line", config);
        }
        sim = &tcp;
        if (!tcp.StartTcp(config))
            return false;
        connection = "ModbusTcpIp/127.0.0.1/" + tcp.PortText();
        return true;
    }
    SerialPorts ports;
    SerialDevice serial;
    SimProcess tcp;
    SimProcess* sim = nullptr;
    std::string connection;
};

} // namespace mistvale
