#pragma once

#include <cstddef>
#include <cstdint>

namespace mistvale {

// CRC-16 of Modbus RTU frames (polynomial 0xA001 reflected, initial value 0xFFFF). The frame carries
// the result low byte first. libmodbus keeps its own CRC private, so raw replies are checked here.
uint16_t ModbusCrc16(const uint8_t* data, size_t length);

// 1 when the last two bytes of the frame are the CRC of the bytes before them.
int ModbusCrcMatches(const uint8_t* frame, size_t length);

} // namespace mistvale
