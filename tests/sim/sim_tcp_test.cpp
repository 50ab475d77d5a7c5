// The simulator over Modbus TCP, seen through a plain libmodbus client and raw sockets.

#include "tests/sim/raw_exchange.h"
#include "tests/support/sim_process.h"

#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <modbus/modbus.h>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace mistvale {

static const char* const kConfig = R"(<Simulator>
  <Device slave="1">
    <Holding address="0" values="1234 -1 0x00FF"/>
    <Holding address="10" text="AB C" />
    <Holding address="20" float="1.0"/>
    <Holding address="30" wave="counter" start="5" step="1" period="40"/>
    <Holding address="31" wave="ramp" min="10" max="20" period="200"/>
    <Holding address="32" wave="sine" offset="0" amplitude="100" period="300"/>
    <Input address="30" values="0x0000 0x3F80"/>
    <Coil address="3" values="1 0 1"/>
    <DiscreteInput address="100" values="1 1 0 1"/>
    <ExceptionStatus value="0xA5"/>
    <Identification conformity="0x01">
      <Object id="0">Brightfen Solar, Ltd.</Object>
      <Object id="1">BSC-3210XT</Object>
      <Object id="2">V01.55+V01.22</Object>
    </Identification>
    <SelfDescription table="0x1000" data="2000">0x0186 0x0186 0x0185</SelfDescription>
  </Device>
  <Device slave="7" strict="1">
    <Holding address="5" value="77"/>
  </Device>
</Simulator>
)";

class SimTcpTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim_.StartTcp(kConfig));
        ctx_ = modbus_new_tcp_pi("127.0.0.1", sim_.PortText().c_str());
        ASSERT_NE(ctx_, nullptr);
        ASSERT_EQ(modbus_connect(ctx_), 0) << modbus_strerror(errno);
        modbus_set_slave(ctx_, 1);
    }
    void TearDown() override {
        if (ctx_ != nullptr) {
            modbus_close(ctx_);
            modbus_free(ctx_);
        }
    }
    void Reconnect() {
        modbus_close(ctx_);
        ASSERT_EQ(modbus_connect(ctx_), 0) << modbus_strerror(errno);
    }

    SimProcess sim_;
    modbus_t* ctx_ = nullptr;
};

TEST_F(SimTcpTest, ServesEveryTableFromTheConfiguration) {
    uint16_t regs[4] = {};
    ASSERT_EQ(modbus_read_registers(ctx_, 0, 4, regs), 4);
    EXPECT_EQ(regs[0], 1234);
    EXPECT_EQ(regs[1], 0xFFFF); // -1 as its two's complement
    EXPECT_EQ(regs[2], 0x00FF);
    EXPECT_EQ(regs[3], 0); // not configured: reads as 0 on a lenient device

    // Text packs two characters per register, low byte first; an odd length pads with a zero byte.
    ASSERT_EQ(modbus_read_registers(ctx_, 10, 2, regs), 2);
    EXPECT_EQ(regs[0], ('B' << 8) | 'A');
    EXPECT_EQ(regs[1], ('C' << 8) | ' ');
    // 1.0f is 0x3F800000: low word first.
    ASSERT_EQ(modbus_read_registers(ctx_, 20, 2, regs), 2);
    EXPECT_EQ(regs[0], 0x0000);
    EXPECT_EQ(regs[1], 0x3F80);

    ASSERT_EQ(modbus_read_input_registers(ctx_, 30, 2, regs), 2);
    EXPECT_EQ(regs[0], 0x0000);
    EXPECT_EQ(regs[1], 0x3F80);

    uint8_t bits[5] = {};
    ASSERT_EQ(modbus_read_bits(ctx_, 2, 5, bits), 5);
    EXPECT_EQ(std::vector<int>(bits, bits + 5), (std::vector<int>{0, 1, 0, 1, 0}));
    ASSERT_EQ(modbus_read_input_bits(ctx_, 100, 4, bits), 4);
    EXPECT_EQ(std::vector<int>(bits, bits + 4), (std::vector<int>{1, 1, 0, 1}));
}

TEST_F(SimTcpTest, WritesChangeTheDeviceAndReadBack) {
    ASSERT_EQ(modbus_write_register(ctx_, 200, 0xBEEF), 1);
    EXPECT_EQ(sim_.Command("get hr 200"), std::to_string(0xBEEF));
    const uint16_t values[2] = {0x0000, 0x3FC0};
    ASSERT_EQ(modbus_write_registers(ctx_, 300, 2, values), 2);
    EXPECT_EQ(sim_.Command("get hr 300"), "0");
    EXPECT_EQ(sim_.Command("get hr 301"), std::to_string(0x3FC0));
    ASSERT_EQ(modbus_write_bit(ctx_, 4, 1), 1);
    EXPECT_EQ(sim_.Command("get co 4"), "1");
    ASSERT_EQ(modbus_write_bit(ctx_, 3, 0), 1);
    EXPECT_EQ(sim_.Command("get co 3"), "0");

    // A value set through the control channel is what the next read delivers.
    ASSERT_TRUE(sim_.Ok("set ir 9 65535"));
    uint16_t reg = 0;
    ASSERT_EQ(modbus_read_input_registers(ctx_, 9, 1, &reg), 1);
    EXPECT_EQ(reg, 65535);
}

TEST_F(SimTcpTest, MovingRegistersChangeOverTimeWithinTheirBounds) {
    uint16_t first = 0;
    ASSERT_EQ(modbus_read_registers(ctx_, 30, 1, &first), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    uint16_t second = 0;
    ASSERT_EQ(modbus_read_registers(ctx_, 30, 1, &second), 1);
    EXPECT_GE(first, 5);
    EXPECT_GE(second - first, 2); // one step every 40 ms

    bool rampMoved = false;
    bool sineNegative = false;
    bool sinePositive = false;
    uint16_t previousRamp = 0xFFFF;
    for (int i = 0; i < 40; ++i) {
        uint16_t regs[2] = {};
        ASSERT_EQ(modbus_read_registers(ctx_, 31, 2, regs), 2);
        EXPECT_GE(regs[0], 10);
        EXPECT_LE(regs[0], 20);
        int16_t sine = static_cast<int16_t>(regs[1]);
        EXPECT_GE(sine, -100);
        EXPECT_LE(sine, 100);
        rampMoved = rampMoved || (previousRamp != 0xFFFF && previousRamp != regs[0]);
        previousRamp = regs[0];
        sineNegative = sineNegative || sine < -20;
        sinePositive = sinePositive || sine > 20;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(rampMoved);
    EXPECT_TRUE(sineNegative);
    EXPECT_TRUE(sinePositive);

    // Writing a moving register stops it.
    ASSERT_EQ(modbus_write_register(ctx_, 30, 3), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_EQ(modbus_read_registers(ctx_, 30, 1, &second), 1);
    EXPECT_EQ(second, 3);
}

TEST_F(SimTcpTest, UnitIdsAndStrictDevices) {
    uint16_t reg = 0;
    modbus_set_slave(ctx_, 7);
    ASSERT_EQ(modbus_read_registers(ctx_, 5, 1, &reg), 1);
    EXPECT_EQ(reg, 77);
    // Addresses the strict device does not define are an illegal data address.
    EXPECT_EQ(modbus_read_registers(ctx_, 4, 2, &reg), -1);
    EXPECT_EQ(errno, EMBXILADD);
    EXPECT_EQ(modbus_write_register(ctx_, 6, 1), -1);
    EXPECT_EQ(errno, EMBXILADD);
    // A unit id without a device: "gateway target failed to respond".
    modbus_set_slave(ctx_, 3);
    EXPECT_EQ(modbus_read_registers(ctx_, 0, 1, &reg), -1);
    EXPECT_EQ(errno, EMBXGTAR);

    auto log = sim_.ReadLog();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0].slave, 7u);
    EXPECT_EQ(log[0].outcome, "reply");
    EXPECT_EQ(log[1].outcome, "exception:2");
    EXPECT_EQ(log[3].slave, 3u);
    EXPECT_EQ(log[3].outcome, "nodevice");
}

TEST_F(SimTcpTest, SelfDescriptionBlock) {
    uint16_t header[4] = {};
    ASSERT_EQ(modbus_read_registers(ctx_, 0xFF10, 4, header), 4);
    EXPECT_EQ(header[0], 0x7601);
    EXPECT_EQ(header[1], 0x1000);
    EXPECT_EQ(header[2], 2000);
    EXPECT_EQ(header[3], 3);
    uint16_t table[3] = {};
    ASSERT_EQ(modbus_read_registers(ctx_, 0x1000, 3, table), 3);
    EXPECT_EQ(std::vector<uint16_t>(table, table + 3), (std::vector<uint16_t>{0x0186, 0x0186, 0x0185}));
}

TEST_F(SimTcpTest, RawFunctionsSevenNineAndIdentificationAreByteExact) {
    int fd = ConnectTcp(sim_.Port());
    ASSERT_GE(fd, 0);
    EXPECT_EQ(Hex(Exchange(fd, TcpFrame(0x1234, {0x07}))), Hex({0x12, 0x34, 0, 0, 0, 3, 1, 0x07, 0xA5}));
    EXPECT_EQ(Hex(Exchange(fd, TcpFrame(0x1235, {0x09}))), Hex({0x12, 0x35, 0, 0, 0, 2, 1, 0x09}));

    Bytes expected = {0x00, 0x07, 0, 0, 0, 0, 1, 0x2B, 0x0E, 0x01, 0x01, 0x00, 0x00, 0x03, 0x00, 0x15};
    for (char c : std::string("Brightfen Solar, Ltd."))
        expected.push_back(static_cast<uint8_t>(c));
    expected.insert(expected.end(), {0x01, 0x0A});
    for (char c : std::string("BSC-3210XT"))
        expected.push_back(static_cast<uint8_t>(c));
    expected.insert(expected.end(), {0x02, 0x0D});
    for (char c : std::string("V01.55+V01.22"))
        expected.push_back(static_cast<uint8_t>(c));
    expected[5] = static_cast<uint8_t>(expected.size() - 6); // MBAP length: unit id and PDU
    EXPECT_EQ(Hex(Exchange(fd, TcpFrame(0x0007, {0x2B, 0x0E, 0x01, 0x00}))), Hex(expected));

    // Code 2 adds no objects here (none of 3 to 6 configured); code 4 reads one object.
    Bytes regular = Exchange(fd, TcpFrame(8, {0x2B, 0x0E, 0x02, 0x00}));
    ASSERT_GE(regular.size(), 14u);
    EXPECT_EQ(regular[13], 3);
    EXPECT_EQ(Hex(Exchange(fd, TcpFrame(9, {0x2B, 0x0E, 0x04, 0x01}))),
              Hex({0,    9,    0,    0,   0,   0x14, 1,   0x2B, 0x0E, 0x04, 0x01, 0x00, 0x00,
                   0x01, 0x01, 0x0A, 'B', 'S', 'C',  '-', '3',  '2',  '1',  '0',  'X',  'T'}));
    // Other MEI types are an illegal function; a bad read code an illegal data value.
    EXPECT_EQ(Hex(Exchange(fd, TcpFrame(10, {0x2B, 0x0D, 0x01, 0x00}))),
              Hex({0, 10, 0, 0, 0, 3, 1, 0xAB, 0x01}));
    EXPECT_EQ(Hex(Exchange(fd, TcpFrame(11, {0x2B, 0x0E, 0x05, 0x00}))),
              Hex({0, 11, 0, 0, 0, 3, 1, 0xAB, 0x03}));
    // Quantity 126 is refused by the device itself.
    EXPECT_EQ(Hex(Exchange(fd, TcpFrame(12, {0x03, 0x00, 0x00, 0x00, 126}))),
              Hex({0, 12, 0, 0, 0, 3, 1, 0x83, 0x03}));
    close(fd);
}

TEST_F(SimTcpTest, TwoRequestsInOneSegmentGetTwoReplies) {
    int fd = ConnectTcp(sim_.Port());
    ASSERT_GE(fd, 0);
    Bytes both = TcpFrame(1, {0x03, 0x00, 0x00, 0x00, 0x01});
    Bytes second = TcpFrame(2, {0x07});
    both.insert(both.end(), second.begin(), second.end());
    EXPECT_EQ(Hex(Exchange(fd, both)),
              Hex({0, 1, 0, 0, 0, 5, 1, 0x03, 0x02, 0x04, 0xD2, 0, 2, 0, 0, 0, 3, 1, 0x07, 0xA5}));
    close(fd);
}

TEST_F(SimTcpTest, SilentFaultTimesOutAndRecovers) {
    ASSERT_TRUE(sim_.Ok("silent 1"));
    modbus_set_response_timeout(ctx_, 0, 200000);
    uint16_t reg = 0;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(modbus_read_registers(ctx_, 0, 1, &reg), -1);
    EXPECT_EQ(errno, ETIMEDOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(190));
    ASSERT_TRUE(sim_.Ok("silent 0"));
    Reconnect();
    ASSERT_EQ(modbus_read_registers(ctx_, 0, 1, &reg), 1);
    EXPECT_EQ(reg, 1234);
    auto log = sim_.ReadLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].outcome, "silent");
    EXPECT_EQ(log[1].outcome, "reply");
}

TEST_F(SimTcpTest, ExceptionFaultOptionallyLimitedToOneFunction) {
    uint16_t reg = 0;
    ASSERT_TRUE(sim_.Ok("exception 2"));
    EXPECT_EQ(modbus_read_registers(ctx_, 0, 1, &reg), -1);
    EXPECT_EQ(errno, EMBXILADD);
    // The faulted write does not reach the register.
    EXPECT_EQ(modbus_write_register(ctx_, 0, 9), -1);
    EXPECT_EQ(sim_.Command("get hr 0"), "1234");

    ASSERT_TRUE(sim_.Ok("exception 4 fn 4"));
    EXPECT_EQ(modbus_read_registers(ctx_, 0, 1, &reg), 1);
    EXPECT_EQ(modbus_read_input_registers(ctx_, 0, 1, &reg), -1);
    EXPECT_EQ(errno, EMBXSFAIL);
    ASSERT_TRUE(sim_.Ok("exception 0"));
    EXPECT_EQ(modbus_read_input_registers(ctx_, 0, 1, &reg), 1);
}

TEST_F(SimTcpTest, LateRepliesArriveAfterTheDelay) {
    ASSERT_TRUE(sim_.Ok("late 300"));
    modbus_set_response_timeout(ctx_, 1, 0);
    uint16_t reg = 0;
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(modbus_read_registers(ctx_, 0, 1, &reg), 1);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(290));
    EXPECT_EQ(reg, 1234);

    // Later than the client waits: the read times out.
    ASSERT_TRUE(sim_.Ok("late 700"));
    modbus_set_response_timeout(ctx_, 0, 300000);
    EXPECT_EQ(modbus_read_registers(ctx_, 0, 1, &reg), -1);
    EXPECT_EQ(errno, ETIMEDOUT);
}

TEST_F(SimTcpTest, LateReplyDoesNotHoldUpOtherClients) {
    ASSERT_TRUE(sim_.Ok("late 400 slave 1"));
    int slow = ConnectTcp(sim_.Port());
    ASSERT_GE(slow, 0);
    ASSERT_EQ(write(slow, TcpFrame(1, {0x07}).data(), 8), 8);
    // Meanwhile slave 7 answers at once on another connection.
    modbus_set_slave(ctx_, 7);
    uint16_t reg = 0;
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(modbus_read_registers(ctx_, 5, 1, &reg), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    EXPECT_EQ(Hex(Collect(slow, 1000, 2000)), Hex({0, 1, 0, 0, 0, 3, 1, 0x07, 0xA5}));
    close(slow);
}

TEST_F(SimTcpTest, DropClosesTheConnectionForTheNextRequestsOnly) {
    ASSERT_TRUE(sim_.Ok("drop 1"));
    uint16_t reg = 0;
    EXPECT_EQ(modbus_read_registers(ctx_, 0, 1, &reg), -1);
    // A new connection is served again.
    Reconnect();
    ASSERT_EQ(modbus_read_registers(ctx_, 0, 1, &reg), 1);
    EXPECT_EQ(reg, 1234);

    ASSERT_TRUE(sim_.Ok("reset 1"));
    int fd = ConnectTcp(sim_.Port());
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, TcpFrame(1, {0x07}).data(), 8), 8);
    uint8_t byte = 0;
    pollfd p = {fd, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 2000), 1);
    EXPECT_EQ(read(fd, &byte, 1), -1);
    EXPECT_EQ(errno, ECONNRESET);
    close(fd);

    auto log = sim_.ReadLog();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].outcome, "drop");
    EXPECT_EQ(log[1].outcome, "reply");
    EXPECT_EQ(log[2].outcome, "drop");
}

TEST_F(SimTcpTest, ReplacedNextReplyIsSentOnce) {
    int fd = ConnectTcp(sim_.Port());
    ASSERT_GE(fd, 0);
    // "next": the PDU is replaced, the MBAP header still fits it.
    ASSERT_TRUE(sim_.Ok("next 03 04 00 01"));
    EXPECT_EQ(Hex(Exchange(fd, TcpFrame(5, {0x03, 0, 0, 0, 1}))),
              Hex({0, 5, 0, 0, 0, 5, 1, 0x03, 0x04, 0x00, 0x01}));
    // "nextraw": exactly the given bytes.
    ASSERT_TRUE(sim_.Ok("nextraw DE AD"));
    EXPECT_EQ(Hex(Exchange(fd, TcpFrame(6, {0x03, 0, 0, 0, 1}))), Hex({0xDE, 0xAD}));
    EXPECT_EQ(Hex(Exchange(fd, TcpFrame(7, {0x03, 0, 0, 0, 1}))),
              Hex({0, 7, 0, 0, 0, 5, 1, 0x03, 0x02, 0x04, 0xD2}));
    close(fd);
}

TEST_F(SimTcpTest, ManyShortConnectionsAndSeveralAtOnce) {
    // The refresh cycle opens a connection per value: every one must be served.
    for (int i = 0; i < 200; ++i) {
        modbus_t* ctx = modbus_new_tcp_pi("127.0.0.1", sim_.PortText().c_str());
        modbus_set_slave(ctx, 1);
        ASSERT_EQ(modbus_connect(ctx), 0);
        uint16_t reg = 0;
        ASSERT_EQ(modbus_read_registers(ctx, 0, 1, &reg), 1) << "connection " << i;
        modbus_close(ctx);
        modbus_free(ctx);
    }
    std::vector<modbus_t*> open;
    for (int i = 0; i < 20; ++i) {
        open.push_back(modbus_new_tcp_pi("127.0.0.1", sim_.PortText().c_str()));
        modbus_set_slave(open.back(), 1);
        ASSERT_EQ(modbus_connect(open.back()), 0);
    }
    for (size_t i = open.size(); i-- > 0;) {
        uint16_t reg = 0;
        EXPECT_EQ(modbus_read_registers(open[i], 1, 1, &reg), 1);
        EXPECT_EQ(reg, 0xFFFF);
        modbus_close(open[i]);
        modbus_free(open[i]);
    }
    EXPECT_EQ(sim_.ReadLog().size(), 220u);
}

TEST_F(SimTcpTest, LogRecordsEachRequestWithTimeSlaveFunctionAddressAndCount) {
    double before =
        std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    uint16_t regs[3];
    uint8_t bits[9];
    ASSERT_EQ(modbus_read_registers(ctx_, 0x1000, 3, regs), 3);
    ASSERT_EQ(modbus_read_input_bits(ctx_, 100, 9, bits), 9);
    ASSERT_EQ(modbus_write_register(ctx_, 42, 1), 1);
    double after = std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    auto log = sim_.ReadLog();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].transport, "tcp");
    EXPECT_EQ(log[0].function, 3u);
    EXPECT_EQ(log[0].address, 0x1000u);
    EXPECT_EQ(log[0].count, 3u);
    EXPECT_EQ(log[1].function, 2u);
    EXPECT_EQ(log[1].address, 100u);
    EXPECT_EQ(log[1].count, 9u);
    EXPECT_EQ(log[2].function, 6u);
    EXPECT_EQ(log[2].address, 42u);
    EXPECT_EQ(log[2].count, 1u);
    for (const SimLogEntry& entry : log) {
        EXPECT_EQ(entry.slave, 1u);
        EXPECT_GE(entry.time, before);
        EXPECT_LE(entry.time, after);
    }
    EXPECT_LE(log[0].time, log[1].time);
    EXPECT_LE(log[1].time, log[2].time);
}

TEST_F(SimTcpTest, MalformedFramesCloseTheConnection) {
    int fd = ConnectTcp(sim_.Port());
    ASSERT_GE(fd, 0);
    // Protocol id 1 is not Modbus.
    Bytes frame = {0, 1, 0, 1, 0, 2, 1, 0x07};
    ASSERT_EQ(write(fd, frame.data(), frame.size()), static_cast<ssize_t>(frame.size()));
    pollfd p = {fd, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 2000), 1);
    uint8_t byte = 0;
    EXPECT_EQ(read(fd, &byte, 1), 0);
    close(fd);
    // The simulator itself carries on.
    uint16_t reg = 0;
    EXPECT_EQ(modbus_read_registers(ctx_, 0, 1, &reg), 1);
}

} // namespace mistvale
