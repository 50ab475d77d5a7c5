// The simulator as RTU slaves on a socat pseudo-terminal pair, through libmodbus and raw bytes.

#include "tests/sim/raw_exchange.h"
#include "tests/support/pty_pair.h"
#include "tests/support/sim_fixtures.h"
#include "tests/support/sim_process.h"

#include <chrono>
#include <gtest/gtest.h>
#include <modbus/modbus.h>
#include <unistd.h>

namespace mistvale {

static const std::string kConfig = R"(<Simulator>
  <Device slave="1">
    <Holding address="0" values="11 12"/>
    <ExceptionStatus value="0x3C"/>
    <Identification conformity="0x01">
      <Object id="0">Brightfen Solar, Ltd.</Object>
      <Object id="1">BSC-3210XT</Object>
      <Object id="2">V01.55+V01.22</Object>
    </Identification>
  </Device>
  <Device slave="5">
    <Holding address="0" value="55"/>
    <Coil address="0" values="0 1"/>
    )" + kAcmeIdentification + R"(
  </Device>
  <Device slave="247">
    <Holding address="0" value="247"/>
  </Device>
</Simulator>
)";

class SimRtuTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(line_.Open());
        ASSERT_TRUE(sim_.StartRtu(line_.DevicePath(), 38400, 'E', kConfig));
    }
    void TearDown() override { CloseClient(); }

    modbus_t* Client() {
        if (ctx_ == nullptr) {
            ctx_ = modbus_new_rtu(line_.PeerPath().c_str(), 38400, 'E', 8, 1);
            EXPECT_NE(ctx_, nullptr);
            EXPECT_EQ(modbus_connect(ctx_), 0) << modbus_strerror(errno);
            modbus_set_response_timeout(ctx_, 0, 300000);
        }
        return ctx_;
    }
    void CloseClient() {
        if (ctx_ != nullptr) {
            modbus_close(ctx_);
            modbus_free(ctx_);
            ctx_ = nullptr;
        }
    }
    // Raw exchanges need the line to themselves.
    int Raw() {
        CloseClient();
        int fd = OpenRawTerminal(line_.PeerPath());
        EXPECT_GE(fd, 0);
        return fd;
    }

    PtyPair line_;
    SimProcess sim_;
    modbus_t* ctx_ = nullptr;
};

TEST_F(SimRtuTest, SeveralSlavesAnswerAndOthersStaySilent) {
    modbus_t* ctx = Client();
    uint16_t reg = 0;
    for (int slave : {1, 5, 247}) {
        modbus_set_slave(ctx, slave);
        ASSERT_EQ(modbus_read_registers(ctx, 0, 1, &reg), 1) << "slave " << slave;
        EXPECT_EQ(reg, slave == 1 ? 11 : slave == 5 ? 55 : 247);
    }
    modbus_set_slave(ctx, 2);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(modbus_read_registers(ctx, 0, 1, &reg), -1);
    EXPECT_EQ(errno, ETIMEDOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(290));
    modbus_set_slave(ctx, 5);
    uint8_t bits[2] = {};
    ASSERT_EQ(modbus_read_bits(ctx, 0, 2, bits), 2);
    EXPECT_EQ(bits[1], 1);
    ASSERT_EQ(modbus_write_register(ctx, 3, 0x1234), 1);
    EXPECT_EQ(sim_.Command("get hr 3 slave 5"), std::to_string(0x1234));
    EXPECT_EQ(sim_.Command("get hr 3 slave 1"), "0");

    auto log = sim_.ReadLog();
    ASSERT_EQ(log.size(), 6u);
    EXPECT_EQ(log[3].slave, 2u);
    EXPECT_EQ(log[3].outcome, "ignored");
    EXPECT_EQ(log[4].transport, "rtu");
    EXPECT_EQ(log[4].function, 1u);
}

TEST_F(SimRtuTest, ScanFindsExactlyTheConfiguredSlaves) {
    modbus_t* ctx = Client();
    modbus_set_response_timeout(ctx, 0, 40000);
    std::vector<int> found;
    for (int slave = 1; slave <= 8; ++slave) {
        modbus_set_slave(ctx, slave);
        uint16_t reg = 0;
        if (modbus_read_registers(ctx, 0, 1, &reg) == 1)
            found.push_back(slave);
    }
    EXPECT_EQ(found, (std::vector<int>{1, 5}));
    EXPECT_EQ(sim_.WaitForLog(8).size(), 8u);
}

TEST_F(SimRtuTest, IdentificationReplyHasTheShapeOfARealDevicesReply) {
    int fd = Raw();
    Bytes request = {0x01, 0x2B, 0x0E, 0x01, 0x00, 0x70, 0x77};
    EXPECT_EQ(Hex(WithCrc({0x01, 0x2B, 0x0E, 0x01, 0x00})), Hex(request));
    Bytes expected = {0x01, 0x2B, 0x0E, 0x01, 0x01, 0x00, 0x00, 0x03, 0x00, 0x15};
    for (char c : std::string("Brightfen Solar, Ltd."))
        expected.push_back(static_cast<uint8_t>(c));
    expected.insert(expected.end(), {0x01, 0x0A});
    for (char c : std::string("BSC-3210XT"))
        expected.push_back(static_cast<uint8_t>(c));
    expected.insert(expected.end(), {0x02, 0x0D});
    for (char c : std::string("V01.55+V01.22"))
        expected.push_back(static_cast<uint8_t>(c));
    EXPECT_EQ(Hex(Exchange(fd, request)), Hex(WithCrc(expected)));

    // Code 2 on slave 5 reports the regular object 5 (model name) as well.
    Bytes regular = Exchange(fd, WithCrc({0x05, 0x2B, 0x0E, 0x02, 0x00}));
    Bytes body = {0x05, 0x2B, 0x0E, 0x02, 0x82, 0x00, 0x00, 0x04, 0x00, 4,    'A', 'C', 'M', 'E', 0x01, 4,
                  'T',  '1',  '0',  '0',  0x02, 3,    '1',  '.',  '2',  0x05, 5,   'S', 'N', '1', '2',  '3'};
    EXPECT_EQ(Hex(regular), Hex(WithCrc(body)));
    close(fd);
}

TEST_F(SimRtuTest, FunctionsSevenAndNine) {
    int fd = Raw();
    EXPECT_EQ(Hex(Exchange(fd, WithCrc({0x01, 0x07}))), Hex(WithCrc({0x01, 0x07, 0x3C})));
    EXPECT_EQ(Hex(Exchange(fd, WithCrc({0x05, 0x09}))), Hex(WithCrc({0x05, 0x09})));
    ASSERT_TRUE(sim_.Ok("status 0x81 slave 5"));
    EXPECT_EQ(Hex(Exchange(fd, WithCrc({0x05, 0x07}))), Hex(WithCrc({0x05, 0x07, 0x81})));
    // Another slave's request gets nothing.
    EXPECT_TRUE(Exchange(fd, WithCrc({0x02, 0x07}), 150).empty());
    close(fd);
}

TEST_F(SimRtuTest, CorruptedCrcFaultAndBadRequests) {
    modbus_t* ctx = Client();
    modbus_set_slave(ctx, 1);
    uint16_t reg = 0;
    ASSERT_TRUE(sim_.Ok("crc 1"));
    EXPECT_EQ(modbus_read_registers(ctx, 0, 1, &reg), -1);
    EXPECT_EQ(errno, EMBBADCRC);
    ASSERT_TRUE(sim_.Ok("crc 0"));
    modbus_flush(ctx);
    ASSERT_EQ(modbus_read_registers(ctx, 1, 1, &reg), 1);
    EXPECT_EQ(reg, 12);

    int fd = Raw();
    // A request with a wrong CRC is not answered and the next good one is.
    Bytes bad = WithCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x01});
    bad.back() ^= 0x01;
    EXPECT_TRUE(Exchange(fd, bad, 150).empty());
    EXPECT_EQ(Hex(Exchange(fd, WithCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x01}))),
              Hex(WithCrc({0x01, 0x03, 0x02, 0x00, 0x0B})));
    // Noise on the line (an unknown function without a valid CRC) is dropped as well.
    EXPECT_TRUE(Exchange(fd, {0x01, 0x44, 0x12, 0x99}, 150).empty());
    EXPECT_EQ(Hex(Exchange(fd, WithCrc({0x01, 0x07}))), Hex(WithCrc({0x01, 0x07, 0x3C})));
    // An unknown function with a good CRC gets the illegal function exception.
    EXPECT_EQ(Hex(Exchange(fd, WithCrc({0x01, 0x44, 0x12}))), Hex(WithCrc({0x01, 0xC4, 0x01})));
    close(fd);

    auto log = sim_.ReadLog();
    int badCrc = 0;
    for (const SimLogEntry& entry : log)
        badCrc += entry.outcome == "badcrc";
    EXPECT_EQ(badCrc, 2);
}

TEST_F(SimRtuTest, FaultsForOneSlaveLeaveTheOthersAlone) {
    modbus_t* ctx = Client();
    uint16_t reg = 0;
    ASSERT_TRUE(sim_.Ok("silent 1 slave 5"));
    ASSERT_TRUE(sim_.Ok("exception 6 slave 247"));
    modbus_set_slave(ctx, 5);
    EXPECT_EQ(modbus_read_registers(ctx, 0, 1, &reg), -1);
    EXPECT_EQ(errno, ETIMEDOUT);
    modbus_set_slave(ctx, 247);
    EXPECT_EQ(modbus_read_registers(ctx, 0, 1, &reg), -1);
    EXPECT_EQ(errno, EMBXSBUSY);
    modbus_set_slave(ctx, 1);
    ASSERT_EQ(modbus_read_registers(ctx, 0, 1, &reg), 1);
    EXPECT_EQ(reg, 11);
    ASSERT_TRUE(sim_.Ok("clear"));
    modbus_set_slave(ctx, 5);
    ASSERT_EQ(modbus_read_registers(ctx, 0, 1, &reg), 1);
    EXPECT_EQ(reg, 55);
}

TEST_F(SimRtuTest, ReplacedReplyGetsSlaveAndCrcUnlessRaw) {
    int fd = Raw();
    ASSERT_TRUE(sim_.Ok("next 03 02 12 34 slave 1"));
    EXPECT_EQ(Hex(Exchange(fd, WithCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x01}))),
              Hex(WithCrc({0x01, 0x03, 0x02, 0x12, 0x34})));
    ASSERT_TRUE(sim_.Ok("nextraw 02 03 02 12 34"));
    EXPECT_EQ(Hex(Exchange(fd, WithCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x01}))),
              Hex({0x02, 0x03, 0x02, 0x12, 0x34}));
    close(fd);
}

// A paced line behaves like a real one: a read at 9,600 baud takes at least the wire time of its
// request (8 bytes) and reply (7 bytes), each followed by the 3.5-character gap, and not much more.
TEST(SimRtuPacing, ReadTakesTheWireTimeOfRequestAndReply) {
    PtyPair line;
    SimProcess sim;
    ASSERT_TRUE(line.Open());
    ASSERT_TRUE(sim.StartRtu(line.DevicePath(), 9600, 'N', kConfig, {"--pace"}));
    modbus_t* ctx = modbus_new_rtu(line.PeerPath().c_str(), 9600, 'N', 8, 1);
    ASSERT_NE(ctx, nullptr);
    ASSERT_EQ(modbus_connect(ctx), 0);
    modbus_set_slave(ctx, 5);
    const double wire = (8 + 3.5 + 7 + 3.5) * 11.0 / 9600;
    for (int i = 0; i < 3; ++i) {
        uint16_t reg = 0;
        auto start = std::chrono::steady_clock::now();
        ASSERT_EQ(modbus_read_registers(ctx, 0, 1, &reg), 1);
        const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_EQ(reg, 55);
        EXPECT_GE(took, wire);
        EXPECT_LT(took, wire + 0.2); // held for the line, not for a poll interval
    }
    modbus_close(ctx);
    modbus_free(ctx);
}

} // namespace mistvale
