// The simulator's parts without a process: framing, request handling and the configuration reader.

#include "modbus/modbus_crc.h"
#include "sim/modbus_frame.h"
#include "sim/request_handler.h"
#include "sim/sim_config.h"

#include <gtest/gtest.h>

namespace mistvale {

using namespace mvsim;

TEST(ModbusFrame, CrcAndRtuRequestLengths) {
    const uint8_t request[] = {0x01, 0x2B, 0x0E, 0x01, 0x00};
    EXPECT_EQ(mvsim::ModbusCrc16(request, sizeof request), 0x7770); // sent as 70 77
    const uint8_t read[] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A};
    EXPECT_EQ(mvsim::ModbusCrc16(read, sizeof read), 0xCDC5); // the well-known C5 CD
    // The simulator keeps a CRC of its own as an independent check of the program's; both live in one
    // program and agree.
    for (size_t length = 0; length <= sizeof read; ++length)
        EXPECT_EQ(mvsim::ModbusCrc16(read, length), mistvale::ModbusCrc16(read, length)) << length;

    const uint8_t multiple[] = {0x01, 0x10, 0x00, 0x00, 0x00, 0x02, 0x04};
    EXPECT_EQ(RtuRequestLength(multiple, 1), 0);
    EXPECT_EQ(RtuRequestLength(multiple, 6), 0); // the byte count is still missing
    EXPECT_EQ(RtuRequestLength(multiple, 7), 13);
    EXPECT_EQ(RtuRequestLength(read, 2), 8);
    const uint8_t status[] = {0x01, 0x07};
    EXPECT_EQ(RtuRequestLength(status, 2), 4);
    EXPECT_EQ(RtuRequestLength(request, 2), 0);
    EXPECT_EQ(RtuRequestLength(request, 3), 7);
    const uint8_t otherMei[] = {0x01, 0x2B, 0x0D};
    EXPECT_EQ(RtuRequestLength(otherMei, 3), -1);
    const uint8_t unknown[] = {0x01, 0x44};
    EXPECT_EQ(RtuRequestLength(unknown, 2), -1);

    std::vector<uint8_t> frame;
    AppendRtuFrame(frame, 1, {0x2B, 0x0E, 0x01, 0x00}, false);
    EXPECT_EQ(frame, (std::vector<uint8_t>{0x01, 0x2B, 0x0E, 0x01, 0x00, 0x70, 0x77}));
    frame.clear();
    AppendRtuFrame(frame, 1, {0x2B, 0x0E, 0x01, 0x00}, true);
    EXPECT_EQ(frame, (std::vector<uint8_t>{0x01, 0x2B, 0x0E, 0x01, 0x00, 0x8F, 0x88}));
}

static std::vector<uint8_t> Handle(SimDevice& device, std::vector<uint8_t> pdu, uint8_t* code = nullptr) {
    std::vector<uint8_t> reply;
    uint8_t result = HandleRequest(device, pdu.data(), pdu.size(), 0, reply);
    if (code != nullptr)
        *code = result;
    return reply;
}

TEST(RequestHandler, BitsPackLeastSignificantFirst) {
    SimDevice device(1);
    for (uint16_t a : {0, 2, 8, 9})
        device.Define(SimTable::Coils, a, 1);
    EXPECT_EQ(Handle(device, {0x01, 0x00, 0x00, 0x00, 0x0A}), (std::vector<uint8_t>{0x01, 0x02, 0x05, 0x03}));
    // Write Multiple Coils unpacks the same way.
    EXPECT_EQ(Handle(device, {0x0F, 0x00, 0x10, 0x00, 0x03, 0x01, 0x06}),
              (std::vector<uint8_t>{0x0F, 0x00, 0x10, 0x00, 0x03}));
    EXPECT_EQ(device.Value(SimTable::Coils, 16, 0), 0);
    EXPECT_EQ(device.Value(SimTable::Coils, 17, 0), 1);
    EXPECT_EQ(device.Value(SimTable::Coils, 18, 0), 1);
}

TEST(RequestHandler, MalformedRequestsGetTheRightException) {
    SimDevice device(1);
    uint8_t code = 0;
    struct Case {
        std::vector<uint8_t> pdu;
        uint8_t exception;
    } cases[] = {
        {{0x03, 0x00, 0x00, 0x00, 0x00}, 3},                // quantity 0
        {{0x03, 0x00, 0x00, 0x00, 126}, 3},                 // quantity over 125
        {{0x03, 0xFF, 0xFF, 0x00, 0x02}, 2},                // runs past 0xFFFF
        {{0x01, 0x00, 0x00, 0x07, 0xD1}, 3},                // 2001 bits
        {{0x03, 0x00, 0x00, 0x00}, 3},                      // one byte short
        {{0x05, 0x00, 0x01, 0x12, 0x34}, 3},                // coil value neither ON nor OFF
        {{0x10, 0x00, 0x00, 0x00, 0x02, 0x03, 1, 2, 3}, 3}, // byte count does not match
        {{0x07, 0x00}, 3},                                  // function 7 carries no data
        {{0x09, 0x00}, 3},
        {{0x2B, 0x0E, 0x01}, 3},
        {{0x41}, 1},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> reply = Handle(device, c.pdu, &code);
        EXPECT_EQ(code, c.exception) << "function " << int(c.pdu[0]);
        EXPECT_EQ(reply, (std::vector<uint8_t>{static_cast<uint8_t>(c.pdu[0] | 0x80), c.exception}));
    }
    // Rejected writes change nothing.
    EXPECT_EQ(device.Value(SimTable::Holding, 0, 0), 0);
}

TEST(RequestHandler, LongIdentificationIsSplitWithMoreFollows) {
    SimDevice device(1);
    for (int id = 0; id < 7; ++id) {
        device.identification[id] = std::string(100, static_cast<char>('a' + id));
        device.hasIdentification[id] = true;
    }
    std::vector<int> seen;
    uint8_t next = 0;
    for (int round = 0; round < 7; ++round) {
        std::vector<uint8_t> reply = Handle(device, {0x2B, 0x0E, 0x02, next});
        ASSERT_GE(reply.size(), 7u);
        ASSERT_LE(reply.size(), 253u);
        // Walk the objects exactly as a client would, within the reply.
        size_t at = 7;
        for (int i = 0; i < reply[6]; ++i) {
            ASSERT_LE(at + 2, reply.size());
            seen.push_back(reply[at]);
            ASSERT_EQ(reply[at + 1], 100);
            at += 2 + reply[at + 1];
        }
        EXPECT_EQ(at, reply.size());
        if (reply[4] != 0xFF)
            break;
        next = reply[5];
    }
    EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 3, 4, 5, 6}));

    // An object id outside the category restarts the stream at object 0; code 4 takes one object only.
    std::vector<uint8_t> basic = Handle(device, {0x2B, 0x0E, 0x01, 0x05});
    ASSERT_GE(basic.size(), 8u);
    EXPECT_EQ(basic[7], 0);
    uint8_t code = 0;
    Handle(device, {0x2B, 0x0E, 0x04, 0x07}, &code);
    EXPECT_EQ(code, 2);
}

TEST(SimConfig, Numbers) {
    long long value = 0;
    EXPECT_TRUE(ParseSimNumber("010", value));
    EXPECT_EQ(value, 10); // decimal, never octal
    EXPECT_TRUE(ParseSimNumber("0x1f", value));
    EXPECT_EQ(value, 31);
    EXPECT_TRUE(ParseSimNumber("-5", value));
    EXPECT_EQ(value, -5);
    for (const char* bad : {"", "abc", "12abc", "0x", "--1", "1 2"})
        EXPECT_FALSE(ParseSimNumber(bad, value)) << bad;
}

TEST(SimConfig, ReadsDataElementsAndSelfDescription) {
    std::vector<std::unique_ptr<SimDevice>> devices;
    std::string error;
    ASSERT_TRUE(ParseSimConfig(R"(<Simulator>
      <Device slave="9" strict="1">
        <Holding address="100" text="AB" registers="3"/>
        <Holding address="200" text="AB" order="high-first"/>
        <Input address="5" float="-2.5" order="high-first"/>
        <SelfDescription table="0x100" data="0x200" signature="0x7602" length="7">0x038B 0 0x038B</SelfDescription>
      </Device></Simulator>)",
                               devices, error))
        << error;
    ASSERT_EQ(devices.size(), 1u);
    SimDevice& device = *devices[0];
    EXPECT_EQ(device.Slave(), 9);
    EXPECT_TRUE(device.Strict());
    EXPECT_EQ(device.Value(SimTable::Holding, 100, 0), ('B' << 8) | 'A');
    EXPECT_EQ(device.Value(SimTable::Holding, 101, 0), 0);
    EXPECT_TRUE(device.IsDefined(SimTable::Holding, 102));
    EXPECT_FALSE(device.IsDefined(SimTable::Holding, 103));
    EXPECT_EQ(device.Value(SimTable::Holding, 200, 0), ('A' << 8) | 'B');
    EXPECT_EQ(device.Value(SimTable::Input, 5, 0), 0xC020); // -2.5f is 0xC0200000
    EXPECT_EQ(device.Value(SimTable::Input, 6, 0), 0x0000);
    EXPECT_EQ(device.Value(SimTable::Holding, 0xFF10, 0), 0x7602);
    EXPECT_EQ(device.Value(SimTable::Holding, 0xFF11, 0), 0x100);
    EXPECT_EQ(device.Value(SimTable::Holding, 0xFF12, 0), 0x200);
    EXPECT_EQ(device.Value(SimTable::Holding, 0xFF13, 0), 7);
    EXPECT_EQ(device.Value(SimTable::Holding, 0x101, 0), 0);
    EXPECT_EQ(device.Value(SimTable::Holding, 0x102, 0), 0x038B);
}

TEST(SimConfig, WavesFollowTheClock) {
    std::vector<std::unique_ptr<SimDevice>> devices;
    std::string error;
    ASSERT_TRUE(ParseSimConfig(R"(<Simulator><Device>
        <Holding address="0" wave="counter" start="65534" step="1" period="100"/>
        <Holding address="1" wave="ramp" min="0" max="1000" period="1000"/>
        <Holding address="2" wave="sine" offset="0" amplitude="100" period="400"/>
      </Device></Simulator>)",
                               devices, error))
        << error;
    SimDevice& device = *devices[0];
    EXPECT_EQ(device.Slave(), 1);
    EXPECT_EQ(device.Value(SimTable::Holding, 0, 0), 65534);
    EXPECT_EQ(device.Value(SimTable::Holding, 0, 250), 0); // 65536 wraps to 0
    EXPECT_EQ(device.Value(SimTable::Holding, 1, 250), 250);
    EXPECT_EQ(device.Value(SimTable::Holding, 1, 1250), 250);
    EXPECT_EQ(device.Value(SimTable::Holding, 2, 100), 100);
    EXPECT_EQ(device.Value(SimTable::Holding, 2, 300), static_cast<uint16_t>(-100));
}

TEST(SimConfig, RejectsMistakesWithAReason) {
    const char* bad[] = {
        "<Simulator/>",
        "<Simulator><Device slave=\"248\"/></Simulator>",
        "<Simulator><Device><Holding address=\"1\"/></Device></Simulator>",
        "<Simulator><Device><Holding address=\"65535\" values=\"1 2\"/></Device></Simulator>",
        "<Simulator><Device><Holding address=\"1\" value=\"70000\"/></Device></Simulator>",
        "<Simulator><Device><Holding address=\"1\" wave=\"square\"/></Device></Simulator>",
        "<Simulator><Device><Coil address=\"1\" text=\"x\"/></Device></Simulator>",
        "<Simulator><Device><Holdings address=\"1\" value=\"1\"/></Device></Simulator>",
        // One text split over two lines.
        "<Simulator><Device><Identification><Object " // NOLINT(bugprone-suspicious-missing-comma)
        "id=\"7\">x</Object></Identification></Device></Simulator>",
    };
    for (const char* text : bad) {
        std::vector<std::unique_ptr<SimDevice>> devices;
        std::string error;
        EXPECT_FALSE(ParseSimConfig(text, devices, error)) << text;
        EXPECT_FALSE(error.empty()) << text;
        EXPECT_TRUE(devices.empty()) << text;
    }
    std::vector<std::unique_ptr<SimDevice>> devices;
    std::string error;
    EXPECT_TRUE(ParseSimConfig(DefaultSimConfig(), devices, error)) << error;
}

} // namespace mistvale
