#include "modbus/modbus_crc.h"

namespace mistvale {

uint16_t ModbusCrc16(const uint8_t* data, size_t length) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            if (crc & 1)
                crc = static_cast<uint16_t>((crc >> 1) ^ 0xA001);
            else
                crc = static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}

int ModbusCrcMatches(const uint8_t* frame, size_t length) {
    if (length < 3)
        return 0;
    uint16_t crc = ModbusCrc16(frame, length - 2);
    return frame[length - 2] == (crc & 0xFF) && frame[length - 1] == (crc >> 8) ? 1 : 0;
}

} // namespace mistvale
