#include "modbus/modbus_crc.h"
#include "modbus/raw_reply.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace mistvale {

namespace {

// A Read Device Identification exchange (basic code) shaped like a real device's, with made-up texts.
const std::vector<uint8_t> kIdRequest = {0x01, 0x2B, 0x0E, 0x01, 0x00, 0x70, 0x77};

std::vector<uint8_t> RealIdentificationReply() {
    std::vector<uint8_t> r = {0x01, 0x2B, 0x0E, 0x01, 0x01, 0x00, 0x00, 0x03};
    auto object = [&](uint8_t id, const std::string& text) {
        r.push_back(id);
        r.push_back(static_cast<uint8_t>(text.size()));
        r.insert(r.end(), text.begin(), text.end());
    };
    object(0x00, "Brightfen Solar, Ltd.");
    object(0x01, "BSC-3210XT");
    object(0x02, "V01.55+V01.22");
    const uint16_t crc = ModbusCrc16(r.data(), r.size());
    r.push_back(static_cast<uint8_t>(crc & 0xFF));
    r.push_back(static_cast<uint8_t>(crc >> 8));
    return r;
}

TEST(ModbusCrc, MatchesTheCatalogueAndARealRequest) {
    // CRC-16/MODBUS's catalogue check value, and a request as a real device's master sent it.
    const std::string check = "123456789";
    EXPECT_EQ(ModbusCrc16(reinterpret_cast<const uint8_t*>(check.data()), check.size()), 0x4B37);
    EXPECT_EQ(ModbusCrc16(kIdRequest.data(), 5), 0x7770);
    EXPECT_EQ(ModbusCrcMatches(kIdRequest.data(), kIdRequest.size()), 1);
    std::vector<uint8_t> reply = RealIdentificationReply();
    EXPECT_EQ(ModbusCrcMatches(reply.data(), reply.size()), 1);
    reply[10] ^= 0x01;
    EXPECT_EQ(ModbusCrcMatches(reply.data(), reply.size()), 0);
    EXPECT_EQ(ModbusCrcMatches(reply.data(), 2), 0);
}

} // namespace

} // namespace mistvale
