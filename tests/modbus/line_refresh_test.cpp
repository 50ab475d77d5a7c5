// Refresh passes as the lines run them, against the simulator over TCP and socat pairs: block reads,
// one connection a pass, devices that refuse large requests or lack a register, silent slaves that
// cost their own line one time-out, late replies that never land under another source, writes and a
// search that take their turn on their line, and a shutdown that does not wait for a late device.
// Requests and connections are counted on the simulator's side.
#include "modbus/connection_path.h"
#include "modbus/device_jobs.h"
#include "modbus/device_search.h"
#include "modbus/found_device.h"
#include "modbus/modbus_link.h"
#include "modbus/read_group_values.h"
#include "model/group.h"
#include "model/monitor_tree.h"
#include "model/source.h"
#include "tests/modbus/test_lines.h"
#include "tests/support/pty_pair.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace mistvale {

namespace {

using Clock = std::chrono::steady_clock;

const char* kFailed = "Can't get value.";

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

template <typename Condition> bool WaitFor(Condition condition, double seconds = 10) {
    const auto start = Clock::now();
    while (!condition()) {
        if (SecondsSince(start) > seconds)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

size_t Requests(const SimProcess& sim, unsigned slave, unsigned function = 3) {
    size_t n = 0;
    for (const SimLogEntry& entry : sim.ReadLog())
        n += entry.slave == slave && entry.function == function ? 1 : 0;
    return n;
}

std::string Registers(unsigned count, unsigned first) {
    std::string values;
    for (unsigned i = 0; i < count; ++i)
        values += (i ? " " : "") + std::to_string(first + i);
    return values;
}

// (serial line?, sources, registers a request may hold at most, requests of one pass)
class BlockReads : public ::testing::TestWithParam<std::tuple<bool, unsigned, unsigned>> {};

// Adjacent sources take one request per 125 registers and one connection a pass; each still gets its
// own value, and text and float sources sit inside the blocks.
TEST_P(BlockReads, AdjacentSourcesShareRequestsAndOneConnection) {
    const auto [rtu, count, requests] = GetParam();
    const std::string config = "<Simulator><Device slave=\"1\"><Holding address=\"0\" values=\"" +
                               Registers(count, 1000) + "\"/></Device></Simulator>";
    EitherLine line;
    ASSERT_TRUE(line.Start(rtu, config, 1));
    SimProcess& sim = *line.sim;
    TestGroup group(line.connection);
    for (unsigned i = 0; i < count; ++i)
        group.Add(std::to_string(i));
    group.Add("3/hex");
    group.Add("5/string2");
    group.Pass();
    for (unsigned i = 0; i < count; ++i)
        ASSERT_EQ(group.Value(i), std::to_string(1000 + i)) << i;
    EXPECT_EQ(group.Value(count), "0x03EB");
    EXPECT_EQ(Requests(sim, 1), requests);
    EXPECT_EQ(rtu ? "1" : sim.Command("connections"), "1") << "one connection for the pass";
}

INSTANTIATE_TEST_SUITE_P(
    Lines, BlockReads, ::testing::Values(std::make_tuple(false, 1000u, 8u), std::make_tuple(true, 100u, 1u)),
    [](const auto& info) {
        return std::string(std::get<0>(info.param) ? "Rtu" : "Tcp") + std::to_string(std::get<1>(info.param));
    });

// A register the device lacks inside a block: the block is read source by source in the same pass, so
// every other source has its value and that one its exception; later passes keep it out of blocks.
TEST(BlockFaults, ARegisterTheDeviceLacksHidesNoNeighbour) {
    SimProcess sim;
    ASSERT_TRUE(sim.StartTcp(R"(<Simulator><Device slave="1" strict="1">
      <Holding address="100" values="1 2"/><Holding address="103" values="4 5"/></Device></Simulator>)"));
    TestGroup group("ModbusTcpIp/127.0.0.1/" + sim.PortText());
    for (const char* path : {"100", "101", "102", "103", "104"})
        group.Add(path);
    for (int pass = 0; pass < 3; ++pass) {
        const size_t before = Requests(sim, 1);
        group.Pass();
        const std::vector<std::string> expected = {"1", "2", kFailed, "4", "5"};
        for (size_t i = 0; i < expected.size(); ++i)
            EXPECT_EQ(group.Value(i), expected[i]) << "pass " << pass << " source " << i;
        EXPECT_EQ(group.Reason(2), "Modbus exception 2 (illegal data address)");
        // Once learned, the missing register is asked alone and its neighbours in blocks around it.
        EXPECT_LE(pass < 2 ? 0u : Requests(sim, 1) - before, 3u);
    }
}

// (no reply rather than exception 3, the pass from which every value must be there)
class SmallDevice : public ::testing::TestWithParam<std::tuple<bool, int>> {};

// A device that takes at most 16 registers a request: every value shows from the pass given on, and
// the group then asks for no more than 16 at a time.
TEST_P(SmallDevice, TakesAtMostSixteenRegistersARequest) {
    const auto [silent, fromPass] = GetParam();
    SimProcess sim;
    ASSERT_TRUE(sim.StartTcp("<Simulator><Device slave=\"1\"><Holding address=\"0\" values=\"" +
                             Registers(40, 500) + "\"/></Device></Simulator>"));
    ASSERT_TRUE(sim.Ok(silent ? "maxitems 16 silent" : "maxitems 16"));
    TestGroup group("ModbusTcpIp/127.0.0.1/" + sim.PortText());
    for (int i = 0; i < 40; ++i)
        group.Add(std::to_string(i));
    for (int pass = 1; pass <= 4; ++pass) {
        const size_t before = sim.ReadLog().size();
        group.Pass();
        if (pass < fromPass)
            continue;
        for (int i = 0; i < 40; ++i)
            ASSERT_EQ(group.Value(i), std::to_string(500 + i)) << "pass " << pass << " source " << i;
        if (pass > fromPass) {
            const std::vector<SimLogEntry> log = sim.ReadLog();
            for (size_t i = before; i < log.size(); ++i)
                EXPECT_LE(log[i].count, 16u);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Refusals, SmallDevice,
                         ::testing::Values(std::make_tuple(false, 1), std::make_tuple(true, 3)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param) ? "Silent" : "Exception");
                         });

// Paths are remembered from pass to pass; an edited one is read as edited from the next pass on.
TEST(BlockFaults, AnEditedPathIsReadAsEdited) {
    SimProcess sim;
    ASSERT_TRUE(sim.StartTcp(
        R"(<Simulator><Device slave="1"><Holding address="7" values="70 71"/></Device></Simulator>)"));
    TestGroup group("ModbusTcpIp/127.0.0.1/" + sim.PortText());
    Source* source = group.Add("7");
    group.Pass();
    EXPECT_EQ(group.Value(0), "70");
    source->SetParameter(WideString(u"8/hex"));
    group.Pass();
    EXPECT_EQ(group.Value(0), "0x0047");
}

// A TCP reply that is not the answer to the request fails with what was wrong with it, and the next
// read works: another unit's reply (libmodbus would take it, matching the transaction id only), an
// answer to another transaction, a header that is not Modbus TCP.
TEST(ReplyChecks, TcpRepliesThatAnswerSomethingElseFailWithTheirReason) {
    SimProcess sim;
    ASSERT_TRUE(sim.StartTcp(
        R"(<Simulator><Device slave="1"><Holding address="0" value="7"/></Device></Simulator>)"));
    TestGroup group("ModbusTcpIp/127.0.0.1/" + sim.PortText());
    group.Add("0");
    const struct {
        const char* reply;
        const char* reason;
    } cases[] = {
        {"00 00 00 00 00 05 02 03 02 00 09", "Reply came from another slave"},
        {"00 07 00 00 00 05 01 03 02 00 09",
         "Reply answered another request (its transaction id is not the request's)"},
        {"00 00 00 01 00 05 01 03 02 00 09", "Reply was not Modbus (its header is not valid)"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(sim.Ok(std::string("nextraw ") + c.reply));
        group.Pass();
        EXPECT_EQ(group.Value(0), kFailed) << c.reply;
        EXPECT_EQ(group.Reason(0), c.reason) << c.reply;
        group.Pass();
        EXPECT_EQ(group.Value(0), "7") << c.reply;
    }
}

// (serial line?, reply delay in ms)
class LateReplies : public ::testing::TestWithParam<std::tuple<bool, int>> {};

// A device that answers late, read pass after pass with no pause between passes (a line whose passes
// take longer than the refresh time): every source shows its own register's value or the failure text,
// never another's. Back on time, every value returns.
TEST_P(LateReplies, NeverShowAnotherSourcesValue) {
    const auto [rtu, delay] = GetParam();
    // Slave 5 on the serial line, unit 1 over TCP.
    const char* config = R"(<Simulator><Device slave="5">
      <Holding address="100" value="1111"/><Holding address="200" value="2222"/>
      <Holding address="300" value="3333"/><Holding address="400" value="4444"/></Device>
      <Device slave="1"><Holding address="100" value="1111"/><Holding address="200" value="2222"/>
      <Holding address="300" value="3333"/><Holding address="400" value="4444"/></Device></Simulator>)";
    EitherLine line;
    ASSERT_TRUE(line.Start(rtu, config, 5));
    SimProcess& sim = *line.sim;
    TestGroup group(line.connection);
    const std::vector<std::string> own = {"1111", "2222", "3333", "4444"};
    for (const char* path : {"100", "200", "300", "400"})
        group.Add(path);
    ASSERT_TRUE(sim.Ok("late " + std::to_string(delay)));
    const auto start = Clock::now();
    int passes = 0;
    while (SecondsSince(start) < delay / 1000.0 + 0.6) {
        group.Pass();
        ++passes;
        for (size_t i = 0; i < own.size(); ++i)
            ASSERT_TRUE(group.Value(i) == own[i] || group.Value(i) == kFailed)
                << "pass " << passes << ": register " << (i + 1) * 100 << " shows " << group.Value(i);
    }
    ASSERT_TRUE(sim.Ok("late 0"));
    // Replies still on their way when the device is back on time arrive within the delay; then every
    // value returns within a few passes.
    std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    bool allOwn = false;
    for (int pass = 0; pass < 4 && !allOwn; ++pass) {
        group.Pass();
        allOwn = true;
        for (size_t i = 0; i < own.size(); ++i) {
            ASSERT_TRUE(group.Value(i) == own[i] || group.Value(i) == kFailed) << group.Value(i);
            allOwn = allOwn && group.Value(i) == own[i];
        }
    }
    EXPECT_TRUE(allOwn) << group.Reason(0);
}

INSTANTIATE_TEST_SUITE_P(Delays, LateReplies,
                         ::testing::Combine(::testing::Bool(), ::testing::Values(600, 1600, 2500, 4000)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param) ? "Rtu" : "Tcp") +
                                    std::to_string(std::get<1>(info.param)) + "ms";
                         });

// A model with the Modbus jobs installed, and the groups it is given.
class LineTree {
public:
    LineTree() {
        InstallDeviceJobs(tree_, &jobs_);
        started_ = tree_.Start(folder_.File("Mistvale.xml")) == 1;
    }
    ~LineTree() { tree_.Stop(); }
    bool Started() const { return started_; }
    Group* AddGroup(const std::string& connection) {
        Group* group = new Group();
        group->SetParameter(WideString::FromUtf8(connection.c_str()));
        tree_.AddGroup(group);
        return group;
    }
    Source* AddSource(Group* group, const std::string& path) {
        Source* source = new Source();
        source->SetParameter(WideString::FromUtf8(path.c_str()));
        tree_.AddSource(group, source);
        return source;
    }
    bool WaitIdle(double seconds = 10) {
        return WaitFor([&] { return tree_.PendingJobs() == 0; }, seconds);
    }
    MonitorTree& Tree() { return tree_; }
    DeviceJobsContext& Jobs() { return jobs_; }

private:
    TempDir folder_;
    MonitorTree tree_;
    DeviceJobsContext jobs_;
    bool started_ = false;
};

// A slave that never answers costs its own line one time-out a pass: its 20 sources fail with the same
// reason after one request, the healthy slave on the same port is still read, and the lines of another
// port and of a TCP device end their passes long before.
TEST(SilentSlave, CostsItsOwnLineOneTimeOutAPass) {
    SerialPorts ports;
    SerialDevice shared;
    SerialDevice other;
    SimProcess tcp;
    const char* config = R"(<Simulator><Device slave="5"><Holding address="0" values="55 56"/></Device>
      <Device slave="6"><Holding address="0" value="66"/></Device></Simulator>)";
    ASSERT_TRUE(shared.Start(ports, "shared", config));
    ASSERT_TRUE(other.Start(ports, "other", config));
    ASSERT_TRUE(tcp.StartTcp(
        R"(<Simulator><Device slave="1"><Holding address="0" value="55"/></Device></Simulator>)"));
    ASSERT_TRUE(shared.sim.Ok("silent 1 slave 6"));

    LineTree lines;
    ASSERT_TRUE(lines.Started());
    Group* silent = lines.AddGroup("ModbusSerial/38400/N/shared/6");
    std::vector<Source*> silentSources;
    silentSources.reserve(20);
    for (int i = 0; i < 20; ++i)
        silentSources.push_back(lines.AddSource(silent, std::to_string(i * 20))); // 20 separate blocks
    Source* neighbour = lines.AddSource(lines.AddGroup("ModbusSerial/38400/N/shared/5"), "1");
    Source* otherPort = lines.AddSource(lines.AddGroup("ModbusSerial/38400/N/other/5"), "0");
    Source* overTcp = lines.AddSource(lines.AddGroup("ModbusTcpIp/127.0.0.1/" + tcp.PortText()), "0");

    for (int pass = 0; pass < 2; ++pass) {
        const size_t silentBefore = Requests(shared.sim, 6);
        const auto start = Clock::now();
        ASSERT_EQ(lines.Tree().QueueRefresh(), 1);
        ASSERT_TRUE(WaitFor(
            [&] { return otherPort->Outcome().atSteady > start && overTcp->Outcome().atSteady > start; }));
        const double othersDone = SecondsSince(start);
        ASSERT_TRUE(lines.WaitIdle());
        const double sharedDone = SecondsSince(start);
        EXPECT_EQ(otherPort->Value().ToUtf8(), "55");
        EXPECT_EQ(overTcp->Value().ToUtf8(), "55");
        EXPECT_EQ(neighbour->Value().ToUtf8(), "56");
        EXPECT_EQ(Requests(shared.sim, 6) - silentBefore, 1u) << "one request to the silent slave a pass";
        for (Source* source : silentSources) {
            EXPECT_EQ(source->Value().ToUtf8(), kFailed);
            // The deadline that applied: 0.5 s and the line time of the longest frame at 38,400 baud.
            EXPECT_EQ(source->Outcome().reason, "No reply from slave 6 within 0.57 s");
        }
        EXPECT_LT(othersDone, 0.4) << "other lines wait for nobody";
        EXPECT_LT(sharedDone, 1.5 * 0.575 + 0.3) << "one time-out on the silent slave's own line";
    }
}

// A write queued while its line is in a pass goes out between that line's reads, never overlapping
// them, and is followed by the next pass.
TEST(LineJobs, AWriteQueuedDuringAPassLandsBetweenReads) {
    SimProcess sim;
    ASSERT_TRUE(sim.StartTcp(R"(<Simulator><Device slave="1"><Holding address="0" value="1"/>
      <Holding address="100" value="2"/><Holding address="200" value="3"/></Device></Simulator>)"));
    ASSERT_TRUE(sim.Ok("late 150"));
    LineTree lines;
    ASSERT_TRUE(lines.Started());
    Group* group = lines.AddGroup("ModbusTcpIp/127.0.0.1/" + sim.PortText());
    Source* target = lines.AddSource(group, "100");
    lines.AddSource(group, "0");
    lines.AddSource(group, "200");
    ASSERT_EQ(lines.Tree().QueueRefresh(), 1);
    ASSERT_FALSE(sim.WaitForLog(1).empty());
    ASSERT_EQ(lines.Tree().QueueSetValue(target, WideString(u"42")), 1);
    ASSERT_EQ(lines.Tree().QueueRefresh(), 1);
    ASSERT_TRUE(lines.WaitIdle());
    EXPECT_EQ(sim.Command("get hr 100"), "42");
    EXPECT_EQ(target->Value().ToUtf8(), "42");
    std::string order;
    for (const SimLogEntry& entry : sim.ReadLog()) {
        order += entry.function == 6 ? "W" : "R";
        // The simulator logs a request when it arrives; a late reply keeps the next one back.
    }
    EXPECT_EQ(order, "RRRWRRR");
}

// A search holds only the port it probes: the TCP group goes on being read meanwhile, and a group on
// the probed port says in its tooltip that it is paused.
TEST(LineJobs, ASearchHoldsOnlyThePortItProbes) {
    SerialPorts ports;
    SerialDevice serial;
    SimProcess tcp;
    const char* config =
        R"(<Simulator><Device slave="3"><Holding address="0" value="33"/></Device></Simulator>)";
    ASSERT_TRUE(serial.Start(ports, "probed", config));
    ASSERT_TRUE(tcp.StartTcp(
        R"(<Simulator><Device slave="1"><Holding address="0" value="33"/></Device></Simulator>)"));
    LineTree lines;
    ASSERT_TRUE(lines.Started());
    Source* paused = lines.AddSource(lines.AddGroup("ModbusSerial/38400/N/probed/3"), "0");
    Source* overTcp = lines.AddSource(lines.AddGroup("ModbusTcpIp/127.0.0.1/" + tcp.PortText()), "0");

    LockedList found;
    SearchTarget target;
    target.results = &found;
    lines.Jobs().SetSearchTarget(target);
    lines.Jobs().SetSearchLastSlave(12); // about two seconds at 38400 baud
    const auto start = Clock::now();
    ASSERT_EQ(lines.Tree().QueueSearch(), 1);
    ASSERT_TRUE(WaitFor([&] { return paused->Outcome().note.find("Paused") != std::string::npos; }));
    EXPECT_EQ(paused->Outcome().note, "Paused: the device search is probing probed");
    const size_t tcpBefore = Requests(tcp, 1);
    int refreshes = 0;
    while (found.Count() == 0 || SecondsSince(start) < 1.0) {
        ASSERT_LT(SecondsSince(start), 10);
        ASSERT_EQ(lines.Tree().QueueRefresh(), 1);
        ++refreshes;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    EXPECT_GE(Requests(tcp, 1) - tcpBefore, 3u) << "the TCP line kept refreshing";
    EXPECT_EQ(overTcp->Value().ToUtf8(), "33");
    lines.Jobs().ClearSearchTarget();
    ASSERT_TRUE(lines.WaitIdle());
    EXPECT_EQ(paused->Value().ToUtf8(), "33");
    EXPECT_TRUE(paused->Outcome().note.empty());
    found.DeleteAll();
}

// (baud, most milliseconds a silent address may cost: 150 ms plus the probe's line time, the 10 ms
// pause between addresses and some slack)
class ProbeTime : public ::testing::TestWithParam<std::tuple<unsigned, int>> {};

TEST_P(ProbeTime, ASilentAddressCostsTheProbesLineTimeNotALargeFrames) {
    const auto [baud, most] = GetParam();
    SerialPorts ports;
    SerialDevice serial;
    ASSERT_TRUE(serial.Start(ports, "bus", R"(<Simulator><Device slave="200"/></Simulator>)"));
    ModbusLink link;
    unsigned slave = 0;
    const std::string path = "ModbusSerial/" + std::to_string(baud) + "/N/bus/1";
    ASSERT_EQ(OpenModbusLink(WideString::FromUtf8(path.c_str()), link, &slave), 1);
    const auto start = Clock::now();
    ASSERT_EQ(link.ScanSlaves(nullptr, nullptr, 3), 1);
    const double perAddress = SecondsSince(start) * 1000 / 3;
    EXPECT_GT(perAddress, 150);
    EXPECT_LT(perAddress, most);
}

INSTANTIATE_TEST_SUITE_P(Rates, ProbeTime,
                         ::testing::Values(std::make_tuple(38400u, 156 + 40),
                                           std::make_tuple(9600u, 173 + 40),
                                           std::make_tuple(1200u, 333 + 40)),
                         [](const auto& info) { return std::to_string(std::get<0>(info.param)); });

// Shutting down while a late device holds a pass ends within two seconds, and saves the tree.
TEST(LineShutdown, ALateDeviceDoesNotHoldItUp) {
    SerialPorts ports;
    SerialDevice serial;
    SimProcess tcp;
    const char* config =
        R"(<Simulator><Device slave="1"><Holding address="0" value="1"/></Device></Simulator>)";
    ASSERT_TRUE(serial.Start(ports, "slow", config));
    ASSERT_TRUE(tcp.StartTcp(config));
    ASSERT_TRUE(serial.sim.Ok("late 1500"));
    ASSERT_TRUE(tcp.Ok("late 1500"));
    auto lines = std::make_unique<LineTree>();
    ASSERT_TRUE(lines->Started());
    for (const std::string& connection :
         {std::string("ModbusSerial/38400/N/slow/1"), "ModbusTcpIp/127.0.0.1/" + tcp.PortText()})
        for (int i = 0; i < 5; ++i)
            lines->AddSource(lines->AddGroup(connection), std::to_string(i * 50));
    ASSERT_EQ(lines->Tree().QueueRefresh(), 1);
    ASSERT_FALSE(serial.sim.WaitForLog(1).empty());
    ASSERT_FALSE(tcp.WaitForLog(1).empty());
    const auto start = Clock::now();
    lines->Tree().Stop();
    EXPECT_LT(SecondsSince(start), 2.0);
    EXPECT_EQ(access(lines->Tree().ConfigPath().c_str(), F_OK), 0) << "the tree was saved";
}

} // namespace

} // namespace mistvale
