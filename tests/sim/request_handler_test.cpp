// The simulator's request handling without a process: replies, exceptions and what writes change.

#include "sim/request_handler.h"
#include "sim/sim_config.h"

#include <gtest/gtest.h>

namespace mistvale {

using namespace mvsim;

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

} // namespace mistvale
