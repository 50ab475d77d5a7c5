// CRC-16/MODBUS: the catalogue's check value, a request as a master sent it, and frames that fail.
#include "modbus/modbus_crc.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace mistvale {

TEST(ModbusCrc, MatchesTheCatalogueAndARealRequest) {
    const std::string check = "123456789";
    EXPECT_EQ(ModbusCrc16(reinterpret_cast<const uint8_t*>(check.data()), check.size()), 0x4B37);
    // Read Device Identification (basic), as a device's master sent it: the CRC low byte first.
    std::vector<uint8_t> request = {0x01, 0x2B, 0x0E, 0x01, 0x00, 0x70, 0x77};
    EXPECT_EQ(ModbusCrc16(request.data(), 5), 0x7770);
    EXPECT_EQ(ModbusCrcMatches(request.data(), request.size()), 1);
    request[3] ^= 0x01;
    EXPECT_EQ(ModbusCrcMatches(request.data(), request.size()), 0);
    EXPECT_EQ(ModbusCrcMatches(request.data(), 2), 0); // too short to carry a CRC
}

} // namespace mistvale
