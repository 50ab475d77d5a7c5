// Starting, controlling and stopping the simulator process.

#include "tests/support/sim_process.h"

#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <modbus/modbus.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace mistvale {

static int ExitCode(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(SimProcess, StopsCleanlyOnTermAndInterrupt) {
    for (int signalNumber : {SIGTERM, SIGINT}) {
        SimProcess sim;
        ASSERT_TRUE(sim.StartTcp());
        auto start = std::chrono::steady_clock::now();
        sim.Child().Signal(signalNumber);
        int status = 0;
        ASSERT_TRUE(sim.Child().WaitExit(2000, status)) << "signal " << signalNumber;
        EXPECT_EQ(ExitCode(status), 0);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
    }
}

TEST(SimProcess, EndsAfterItsTimeLimitQuitOrEndOfInput) {
    {
        SimProcess sim;
        sim.SetMaxSeconds(0.3);
        ASSERT_TRUE(sim.StartTcp());
        int status = 0;
        ASSERT_TRUE(sim.Child().WaitExit(3000, status));
        EXPECT_EQ(ExitCode(status), 0);
    }
    {
        SimProcess sim;
        ASSERT_TRUE(sim.StartTcp());
        sim.Child().WriteLine("quit");
        int status = 0;
        ASSERT_TRUE(sim.Child().WaitExit(2000, status));
        EXPECT_EQ(ExitCode(status), 0);
    }
    {
        SimProcess sim;
        ASSERT_TRUE(sim.StartTcp());
        sim.Child().CloseStdin();
        int status = 0;
        ASSERT_TRUE(sim.Child().WaitExit(2000, status));
        EXPECT_EQ(ExitCode(status), 0);
    }
}

TEST(SimProcess, DefaultDeviceServesTheDemonstrationData) {
    SimProcess sim;
    ASSERT_TRUE(sim.StartTcp());
    modbus_t* ctx = modbus_new_tcp_pi("127.0.0.1", sim.PortText().c_str());
    ASSERT_EQ(modbus_connect(ctx), 0);
    modbus_set_slave(ctx, 1);
    uint16_t regs[4] = {};
    EXPECT_EQ(modbus_read_registers(ctx, 0xFF10, 4, regs), 4);
    EXPECT_EQ(regs[0], 0x7601);
    EXPECT_EQ(regs[3], 5);
    EXPECT_EQ(modbus_read_registers(ctx, 0, 1, regs), 1);
    EXPECT_EQ(regs[0], 1234);
    modbus_close(ctx);
    modbus_free(ctx);
}

TEST(SimProcess, ControlCommandsAnswerOneLineEach) {
    SimProcess sim;
    ASSERT_TRUE(sim.StartTcp(R"(<Simulator><Device slave="2"/><Device slave="3"/></Simulator>)"));
    EXPECT_EQ(sim.Command("ping"), "ok");
    EXPECT_EQ(sim.Command("set hr 7 -2"), "ok");
    EXPECT_EQ(sim.Command("get hr 7"), "65534");
    // Without "slave", set and get use the first device.
    EXPECT_EQ(sim.Command("get hr 7 slave 2"), "65534");
    EXPECT_EQ(sim.Command("get hr 7 slave 3"), "0");
    EXPECT_EQ(sim.Command("set co 1 5 slave 3"), "ok");
    EXPECT_EQ(sim.Command("get co 1 slave 3"), "1");
    for (const char* bad : {"set hr 65536 1", "get xx 1", "get hr 1 slave 9", "silent 2", "late", "next zz",
                            "exception 2 fn", "frobnicate"})
        EXPECT_EQ(sim.Command(bad).rfind("error", 0), 0u) << bad;
    // The channel stays in step after errors.
    EXPECT_EQ(sim.Command("ping"), "ok");
}

TEST(SimProcess, ControlSocketTakesTheSameCommands) {
    TempDir dir;
    std::string path = dir.File("control");
    SimProcess sim;
    ASSERT_TRUE(sim.StartTcp("", {"--control", path}));
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const char commands[] = "set hr 5 99\nget hr 5\n";
    ASSERT_EQ(write(fd, commands, sizeof commands - 1), static_cast<ssize_t>(sizeof commands - 1));
    std::string reply;
    char chunk[64];
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (reply != "ok\n99\n" && std::chrono::steady_clock::now() < deadline) {
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n <= 0)
            break;
        reply.append(chunk, static_cast<size_t>(n));
    }
    EXPECT_EQ(reply, "ok\n99\n");
    close(fd);
    EXPECT_EQ(sim.Command("get hr 5"), "99");
}

TEST(SimProcess, BadConfigurationOrOptionsFailTheStart) {
    for (const char* config :
         {"<Simulator><Device slave=\"1\"><Holding address=\"70000\" value=\"1\"/></Device></Simulator>",
          "<Simulator><Device slave=\"1\"/><Device slave=\"1\"/></Simulator>", "<Simulator>", "<Other/>"}) {
        SimProcess sim;
        EXPECT_FALSE(sim.StartTcp(config)) << config;
        int status = 0;
        ASSERT_TRUE(sim.Child().WaitExit(2000, status));
        EXPECT_EQ(ExitCode(status), 2) << config;
    }
    SimProcess sim;
    EXPECT_FALSE(sim.StartRtu("/nonexistent/mistvale-tty"));
    int status = 0;
    ASSERT_TRUE(sim.Child().WaitExit(2000, status));
    EXPECT_EQ(ExitCode(status), 2);
}

} // namespace mistvale
