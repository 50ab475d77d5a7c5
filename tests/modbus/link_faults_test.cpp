// Devices that misbehave, over TCP and over socat pseudo-terminals against the simulator: replies that
// come after the time-out, replies sent a byte at a time, hosts that never answer a connect, and serial
// rates that have no constant of their own.
#include "modbus/connection_path.h"
#include "modbus/device_jobs.h"
#include "modbus/modbus_link.h"
#include "modbus/read_source_value.h"
#include "modbus/write_source_value.h"
#include "model/group.h"
#include "model/monitor_tree.h"
#include "model/source.h"
#include "model/tree_rows.h"
#include "tests/support/blackhole_listener.h"
#include "tests/support/pty_pair.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <tuple>
#include <unistd.h>

namespace mistvale {

namespace {

using Clock = std::chrono::steady_clock;

// Unit 1 answers over TCP, slave 5 on the serial line.
const char* kConfig = R"(<Simulator>
  <Device slave="1"><Holding address="100" values="1111 2222 3333 4444"/></Device>
  <Device slave="5"><Holding address="100" values="1111 2222 3333 4444"/></Device>
</Simulator>)";

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
    // The request's deadline; what trickles in afterwards is thrown away before the next request.
    EXPECT_LT(SecondsSince(start), 0.7);
    ASSERT_TRUE(device.Sim().Ok("drip 0"));
    // The rest of the trickle (seven bytes 150 ms apart) has to be over: the line carries no ids.
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
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

namespace {

// The reason a read of register 100 through connection left in the source, with its value text.
std::pair<std::string, std::string> ReadWithReason(const std::string& connection,
                                                   const char* registerPath = "100") {
    Group group;
    group.SetParameter(WideString::FromUtf8(connection.c_str()));
    Source source;
    source.SetParameter(WideString::FromUtf8(registerPath));
    ReadSourceValue(group, source);
    return {source.Value().ToUtf8(), source.Outcome().reason};
}

// Every failure keeps its own reason beside "Can't get value.", in words a person can act on.
TEST(FailureReasons, TcpRefusedTimedOutExceptionAndUnanswered) {
    FaultyDevice device;
    ASSERT_TRUE(device.Start(false));
    auto [value, reason] = ReadWithReason(device.Connection());
    EXPECT_EQ(value, "1111");
    EXPECT_EQ(reason, "");

    ASSERT_TRUE(device.Sim().Ok("exception 2"));
    std::tie(value, reason) = ReadWithReason(device.Connection());
    EXPECT_EQ(value, kFailed);
    EXPECT_EQ(reason, "Modbus exception 2 (illegal data address)");

    ASSERT_TRUE(device.Sim().Ok("clear"));
    ASSERT_TRUE(device.Sim().Ok("silent 1"));
    std::tie(value, reason) = ReadWithReason(device.Connection());
    // The deadline that applied: the 0.5 s time-out and the allowance for the network.
    EXPECT_EQ(reason, "No reply from 127.0.0.1:" + device.Sim().PortText() + " within 0.6 s");

    BlackholeListener blackhole;
    ASSERT_TRUE(blackhole.Open());
    const std::string port = std::to_string(blackhole.Port());
    std::tie(value, reason) = ReadWithReason("ModbusTcpIp/127.0.0.1/" + port);
    EXPECT_EQ(reason, "Connect to 127.0.0.1:" + port + " timed out");

    device.Sim().Stop();
    std::tie(value, reason) = ReadWithReason(device.Connection());
    EXPECT_EQ(value, kFailed);
    EXPECT_EQ(reason, "Connection refused by 127.0.0.1:" + device.Sim().PortText());
}

TEST(FailureReasons, SerialSilenceCrcMissingAndBusyPort) {
    FaultyDevice device;
    ASSERT_TRUE(device.Start(true));
    ASSERT_TRUE(device.Sim().Ok("silent 1"));
    // The 0.5 s time-out and the line time of the longest frame at 38,400 baud.
    EXPECT_EQ(ReadWithReason(device.Connection()).second, "No reply from slave 5 within 0.57 s");
    ASSERT_TRUE(device.Sim().Ok("clear"));
    ASSERT_TRUE(device.Sim().Ok("crc 1"));
    EXPECT_EQ(ReadWithReason(device.Connection()).second, "Reply failed its CRC check");
    ASSERT_TRUE(device.Sim().Ok("clear"));

    EXPECT_EQ(ReadWithReason("ModbusSerial/38400/N/nothere/5").second, "Serial port nothere is not present");

    // Another program holds the port.
    ModbusLink holder;
    unsigned slave = 0;
    ASSERT_EQ(OpenModbusLink(WideString::FromUtf8(device.Connection().c_str()), holder, &slave), 1);
    EXPECT_EQ(ReadWithReason(device.Connection()).second,
              holder.DevicePath() + " is in use by another program");
    holder.Disconnect();
    EXPECT_EQ(ReadWithReason(device.Connection()).first, "1111");
}

// A port whose mode forbids this user: as root the kernel lets everything through, so the read runs
// in a child that has given up root.
TEST(FailureReasons, SerialPortWithoutPermission) {
    FaultyDevice device;
    ASSERT_TRUE(device.Start(true));
    char resolved[PATH_MAX];
    ASSERT_NE(realpath(device.PeerPath().c_str(), resolved), nullptr);
    ASSERT_EQ(chmod(resolved, 0600), 0);
    // The pair's own folder stays open to the other user; only the port itself is closed to them.
    const std::string folder = device.PeerPath().substr(0, device.PeerPath().rfind('/'));
    ASSERT_EQ(chmod(folder.c_str(), 0755), 0);
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(pipeFds[0]);
        // Root gives itself up; anyone else shuts the port to itself.
        if (geteuid() == 0) {
            if (setgid(65534) != 0 || setuid(65534) != 0)
                _exit(2);
        } else if (chmod(resolved, 0) != 0) {
            _exit(3);
        }
        const std::string reason = ReadWithReason(device.Connection()).second;
        (void)!write(pipeFds[1], reason.data(), reason.size());
        _exit(0);
    }
    close(pipeFds[1]);
    std::string reason;
    char buffer[512];
    ssize_t got;
    while ((got = read(pipeFds[0], buffer, sizeof buffer)) > 0)
        reason.append(buffer, static_cast<size_t>(got));
    close(pipeFds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    chmod(resolved, 0620);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << " " << reason;
    EXPECT_EQ(reason,
              device.PeerPath() +
                  ": permission denied. Add yourself to the dialout group: sudo adduser $USER dialout, "
                  "then log in again");
}

// A drawn source whose device goes silent shows the failure as text, and its picture again once the
// device is back; a typed value the format cannot take says so.
TEST(FailureReasons, DrawnSourceShowsTheFailureAndWritesSayWhy) {
    FaultyDevice device;
    ASSERT_TRUE(device.Start(false));
    Group group;
    group.SetParameter(WideString::FromUtf8(device.Connection().c_str()));
    Source range;
    range.SetNameAndParameter(u"Level", u"100/range/0/5000");
    ReadSourceValue(group, range);
    EXPECT_EQ(SourceRowText(range).ToUtf8(), "Level\t\f");
    ASSERT_TRUE(device.Sim().Ok("silent 1"));
    ReadSourceValue(group, range);
    EXPECT_EQ(SourceRowText(range).ToUtf8(), "Level\tCan't get value.");
    ASSERT_TRUE(device.Sim().Ok("silent 0"));
    ReadSourceValue(group, range);
    EXPECT_EQ(SourceRowText(range).ToUtf8(), "Level\t\f");

    Source flow;
    flow.SetParameter(u"100/float");
    EXPECT_EQ(WriteSourceValue(group, flow, WideString(u"abc")), 0);
    EXPECT_EQ(flow.Value().ToUtf8(), "Can't set value.");
    EXPECT_EQ(flow.Outcome().reason, "Not a number for this format");
}

} // namespace

} // namespace mistvale
