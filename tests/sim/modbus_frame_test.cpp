// The simulator's framing without a process: CRCs and the lengths of RTU requests.

#include "modbus/modbus_crc.h"
#include "sim/modbus_frame.h"

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

} // namespace mistvale
