#include "sim/modbus_frame.h"

namespace mvsim {

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

int RtuRequestLength(const uint8_t* frame, size_t have) {
    if (have < 2)
        return 0;
    switch (frame[1]) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
    case 8:
        return 8;
    case 7:
    case 9:
    case 11:
    case 12:
    case 17:
        return 4;
    case 15:
    case 16:
        // slave, function, address, quantity, byte count, data, CRC
        return have < 7 ? 0 : 9 + frame[6];
    case 20:
    case 21:
        return have < 3 ? 0 : 5 + frame[2];
    case 22:
        return 10;
    case 23:
        return have < 11 ? 0 : 13 + frame[10];
    case 24:
        return 6;
    case 0x2B:
        if (have < 3)
            return 0;
        // Read Device Identification: MEI type, read code, object id.
        return frame[2] == 0x0E ? 7 : -1;
    default:
        return -1;
    }
}

void AppendRtuFrame(std::vector<uint8_t>& out, uint8_t slave, const std::vector<uint8_t>& pdu,
                    bool corruptCrc) {
    size_t start = out.size();
    out.push_back(slave);
    out.insert(out.end(), pdu.begin(), pdu.end());
    uint16_t crc = ModbusCrc16(out.data() + start, out.size() - start);
    if (corruptCrc)
        crc = static_cast<uint16_t>(~crc);
    out.push_back(static_cast<uint8_t>(crc & 0xFF));
    out.push_back(static_cast<uint8_t>(crc >> 8));
}

void AppendTcpFrame(std::vector<uint8_t>& out, uint16_t transactionId, uint8_t unit,
                    const std::vector<uint8_t>& pdu) {
    size_t length = pdu.size() + 1;
    out.push_back(static_cast<uint8_t>(transactionId >> 8));
    out.push_back(static_cast<uint8_t>(transactionId & 0xFF));
    out.push_back(0);
    out.push_back(0);
    out.push_back(static_cast<uint8_t>(length >> 8));
    out.push_back(static_cast<uint8_t>(length & 0xFF));
    out.push_back(unit);
    out.insert(out.end(), pdu.begin(), pdu.end());
}

} // namespace mvsim
