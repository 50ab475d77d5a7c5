// Devices that misbehave, over TCP and over socat pseudo-terminals against the simulator: replies that
// come after the time-out, replies sent a byte at a time, hosts that never answer a connect, and serial
// rates that have no constant of their own.
#include "modbus/connection_path.h"
#include "modbus/device_jobs.h"
#include "modbus/modbus_link.h"
#include "modbus/read_source_value.h"
#include "model/group.h"
#include "model/monitor_tree.h"
#include "model/source.h"
#include "tests/support/blackhole_listener.h"
#include "tests/support/pty_pair.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <tuple>

namespace {

using Clock = std::chrono::steady_clock;

// Unit 1 answers over TCP, slave 5 on the serial line.
const char* kConfig = R"(<Simulator>
  <Device slave="1"><Holding address="100" values="1111 2222 3333 4444"/></Device>
  <Device slave="5"><Holding address="100" values="1111 2222 3333 4444"/></Device>
</Simulator>)";

const char* kOwnValues[] = {"1111", "2222", "3333", "4444"};
const char* kFailed = "Can't get value.";

std::string ReadOnce(const std::string& connection, const std::string& registerPath) {
    Group group;
    group.SetParameter(WideString::FromUtf8(connection.c_str()));
    Source source;
    source.SetParameter(WideString::FromUtf8(registerPath.c_str()));
    ReadSourceValue(group, source);
    return source.Value().ToUtf8();
}

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A simulator with slave 5, over TCP or on one end of a pseudo-terminal pair (the other end listed as
// the serial port "peer").
class FaultyDevice {
public:
    bool Start(bool rtu) {
        sim_.SetMaxSeconds(120);
        if (!rtu) {
            if (!sim_.StartTcp(kConfig))
                return false;
            connection_ = "ModbusTcpIp/127.0.0.1/" + sim_.PortText();
            return true;
        }
        if (!line_.Open() || !sim_.StartRtu(line_.DevicePath(), 38400, 'N', kConfig))
            return false;
        setenv("MISTVALE_SERIAL_PORTS", line_.PeerPath().c_str(), 1);
        setenv("MISTVALE_SERIAL_PORTS_ONLY", "1", 1);
        connection_ = "ModbusSerial/38400/N/peer/5";
        return true;
    }
    ~FaultyDevice() {
        unsetenv("MISTVALE_SERIAL_PORTS");
        unsetenv("MISTVALE_SERIAL_PORTS_ONLY");
    }
    SimProcess& Sim() { return sim_; }
    const std::string& Connection() const { return connection_; }
    const std::string& PeerPath() const { return line_.PeerPath(); }

private:
    PtyPair line_;
    SimProcess sim_;
    std::string connection_;
};

// (serial line?, reply delay in ms)
class LateReplies : public ::testing::TestWithParam<std::tuple<bool, int>> {};

// A reply that comes after the time-out is still on its way when the next request goes out; RTU
// frames carry nothing that tells it from the reply to that request. A pass over registers 100..103
// must show each register's own value or the failure text, never a neighbour's.
TEST_P(LateReplies, EverySourceShowsItsOwnValueOrTheFailure) {
    const bool rtu = std::get<0>(GetParam());
    const int delay = std::get<1>(GetParam());
    FaultyDevice device;
    ASSERT_TRUE(device.Start(rtu));
    ASSERT_TRUE(device.Sim().Ok("late " + std::to_string(delay)));
    for (int pass = 0; pass < (delay < 500 ? 2 : 1); ++pass) {
        for (int i = 0; i < 4; ++i) {
            std::string value = ReadOnce(device.Connection(), std::to_string(100 + i));
            if (delay < 500) {
                EXPECT_EQ(value, kOwnValues[i]) << "register " << 100 + i; // within the time-out
            } else {
                EXPECT_TRUE(value == kOwnValues[i] || value == kFailed)
                    << "register " << 100 + i << " shows " << value;
            }
        }
    }
    // Once the device is prompt again, every value is back.
    ASSERT_TRUE(device.Sim().Ok("late 0"));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(ReadOnce(device.Connection(), std::to_string(100 + i)), kOwnValues[i]);
}

INSTANTIATE_TEST_SUITE_P(Delays, LateReplies,
                         ::testing::Combine(::testing::Bool(), ::testing::Values(450, 600, 1200)),
                         [](const ::testing::TestParamInfo<std::tuple<bool, int>>& info) {
                             return std::string(std::get<0>(info.param) ? "Rtu" : "Tcp") +
                                    std::to_string(std::get<1>(info.param)) + "ms";
                         });

// A device that sends a valid reply one byte at a time would keep a byte-by-byte time-out going for
// a long time; every request ends at its deadline instead, and the next read is right again.
TEST(DrippingDevice, TcpRequestEndsAtItsDeadline) {
    FaultyDevice device;
    ASSERT_TRUE(device.Start(false));
    ASSERT_TRUE(device.Sim().Ok("drip 400"));
    auto start = Clock::now();
    EXPECT_EQ(ReadOnce(device.Connection(), "100"), kFailed);
    EXPECT_LT(SecondsSince(start), 1.0);
    ASSERT_TRUE(device.Sim().Ok("drip 0"));
    EXPECT_EQ(ReadOnce(device.Connection(), "101"), "2222");
}

TEST(DrippingDevice, SerialRequestEndsAtItsDeadlineAndTheLineIsCleanAfterwards) {
    FaultyDevice device;
    ASSERT_TRUE(device.Start(true));
    ASSERT_TRUE(device.Sim().Ok("drip 150"));
    ModbusLink link;
    unsigned slave = 0;
    ASSERT_EQ(OpenModbusLink(WideString::FromUtf8(device.Connection().c_str()), link, &slave), 1);
    // The deadline: the time-out and the line time of the largest frame at 38400 baud.
    EXPECT_LT(link.RequestDeadlineUs(), 600000);
    uint16_t item = 0;
    unsigned count = 1;
    auto start = Clock::now();
    EXPECT_EQ(link.ReadItems(slave, 100, 3, &count, &item, 0), 0);
    // The request's deadline, then the rest of the trickle and a quiet second are thrown away.
    EXPECT_LT(SecondsSince(start), 3.0);
    ASSERT_TRUE(device.Sim().Ok("drip 0"));
    count = 1;
    ASSERT_EQ(link.ReadItems(slave, 101, 3, &count, &item, 0), 1);
    EXPECT_EQ(item, 2222);
}

// A group whose host never answers a connect costs one connect time-out a pass, not one a source; the
// next group is still read in the same pass.
TEST(UnreachableGroup, CostsOneConnectTimeOutAPass) {
    FaultyDevice device;
    ASSERT_TRUE(device.Start(false));
    BlackholeListener blackhole;
    ASSERT_TRUE(blackhole.Open());

    TempDir folder;
    MonitorTree tree;
    DeviceJobsContext jobs;
    InstallDeviceJobs(tree, &jobs);
    ASSERT_EQ(tree.Start(folder.Path() + "/Mistvale.xml"), 1);
    Group* dead = new Group();
    dead->SetParameter(
        WideString::FromUtf8(("ModbusTcpIp/127.0.0.1/" + std::to_string(blackhole.Port())).c_str()));
    ASSERT_EQ(tree.AddGroup(dead), 1);
    std::vector<Source*> deadSources;
    for (int i = 0; i < 8; ++i) {
        Source* source = new Source();
        source->SetParameter(WideString::FromUtf8(std::to_string(100 + i % 4).c_str()));
        ASSERT_EQ(tree.AddSource(dead, source), 1);
        deadSources.push_back(source);
    }
    Group* live = new Group();
    live->SetParameter(WideString::FromUtf8(device.Connection().c_str()));
    ASSERT_EQ(tree.AddGroup(live), 1);
    Source* liveSource = new Source();
    liveSource->SetParameter(WideString(u"103"));
    ASSERT_EQ(tree.AddSource(live, liveSource), 1);

    ModbusLink probe;
    auto connectStart = Clock::now();
    ASSERT_EQ(OpenModbusLink(dead->Parameter(), probe, nullptr), 0);
    const double connectTimeout = SecondsSince(connectStart);
    EXPECT_EQ(probe.LastError(), ETIMEDOUT);

    auto start = Clock::now();
    ASSERT_EQ(tree.QueueRefresh(), 1);
    while (tree.PendingJobs() > 0 && SecondsSince(start) < 30)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const double pass = SecondsSince(start);
    for (Source* source : deadSources)
        EXPECT_EQ(source->Value().ToUtf8(), kFailed);
    EXPECT_EQ(liveSource->Value().ToUtf8(), "4444");
    EXPECT_LT(pass, 2 * connectTimeout) << "connect time-out " << connectTimeout << " s";
}

// Rates without a constant of their own are set through the kernel's free-rate interface; the
// library alone would open them at 9600.
TEST(SerialRates, RatesWithoutAConstantRunAtTheirOwnSpeed) {
    FaultyDevice device;
    ASSERT_TRUE(device.Start(true));
    for (unsigned baud : {14400u, 250000u, 19200u}) {
        ModbusLink link;
        unsigned slave = 0;
        std::string path = "ModbusSerial/" + std::to_string(baud) + "/N/peer/5";
        ASSERT_EQ(OpenModbusLink(WideString::FromUtf8(path.c_str()), link, &slave), 1) << baud;
        EXPECT_EQ(link.LineSpeed(), baud);
        uint16_t item = 0;
        unsigned count = 1;
        ASSERT_EQ(link.ReadItems(slave, 102, 3, &count, &item, 0), 1) << baud;
        EXPECT_EQ(item, 3333);
    }
}

} // namespace
