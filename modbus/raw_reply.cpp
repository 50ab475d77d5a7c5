#include "modbus/raw_reply.h"

#include "modbus/modbus_crc.h"
#include "platform/check.h"

namespace mistvale {

namespace {

constexpr size_t kIdentificationFixed = 7; // function, MEI type, code, conformity, more, next id, count

} // namespace

int RtuReplyLength(const uint8_t* frame, size_t have, uint8_t function) {
    if (have < 2)
        return 0;
    const uint8_t got = frame[1];
    if (got & 0x80)
        return 5; // slave, function | 0x80, exception code, CRC
    // The frame's own function gives its shape, so that a late reply to another request, of another
    // slave or function, ends where it ends and is then refused whole.
    switch (got) {
    case 1:
    case 2:
    case 3:
    case 4:
        return have < 3 ? 0 : 3 + frame[2] + 2; // slave, function, byte count, data, CRC
    case 5:
    case 6:
    case 15:
    case 16:
        return 8; // slave, function, address, value or quantity, CRC
    case kFunctionExceptionStatus:
        return 5; // slave, 7, status, CRC
    case kFunctionNine:
        return 4; // slave, 9, CRC
    case kFunctionIdentification:
        return function == kFunctionIdentification ? -1 : 0;
    default:
        return 0;
    }
}

size_t RtuIdentificationLength(const uint8_t* frame, size_t have) {
    const size_t pdu = 1;
    if (have < pdu + kIdentificationFixed || frame[1] != kFunctionIdentification)
        return 0;
    size_t count = frame[pdu + 6];
    size_t pos = pdu + kIdentificationFixed;
    for (size_t i = 0; i < count; ++i) {
        if (pos + 2 > have)
            return 0;
        pos += 2 + frame[pos + 1];
        if (pos > kRtuMaxFrame)
            return 0;
    }
    pos += 2;
    return pos <= kRtuMaxFrame ? pos : 0;
}

int TcpReplyLength(const uint8_t* frame, size_t have) {
    if (have < kTcpHeaderLength)
        return 0;
    if (frame[2] != 0 || frame[3] != 0)
        return -1;
    size_t rest = static_cast<size_t>(frame[4]) << 8 | frame[5];
    if (rest < 2 || 6 + rest > kTcpMaxFrame)
        return -1;
    return static_cast<int>(6 + rest);
}

int CheckRtuReply(const uint8_t* frame, size_t length, uint8_t slave, uint8_t function) {
    if (length < 4 || length > kRtuMaxFrame)
        return 0;
    if (!ModbusCrcMatches(frame, length))
        return 0;
    return frame[0] == slave && frame[1] == function ? 1 : 0;
}

int CheckTcpReply(const uint8_t* frame, size_t length, uint8_t unit, uint8_t function) {
    if (length < kTcpHeaderLength + 1 || length > kTcpMaxFrame)
        return 0;
    if (TcpReplyLength(frame, length) != static_cast<int>(length))
        return 0;
    return frame[6] == unit && frame[7] == function ? 1 : 0;
}

int ParseIdentificationReply(const uint8_t* frame, size_t length, size_t headerLength, size_t checksumLength,
                             IdentificationBytes* texts) {
    if (!MV_CHECK(frame != nullptr && texts != nullptr) || length < headerLength + checksumLength)
        return 0;
    const uint8_t* pdu = frame + headerLength;
    size_t size = length - headerLength - checksumLength;
    if (size < kIdentificationFixed || pdu[0] != kFunctionIdentification || pdu[1] != kMeiReadDeviceId)
        return 0;
    IdentificationBytes found = *texts;
    found.present = 0;
    size_t pos = kIdentificationFixed;
    while (pos < size) {
        if (size - pos < 2)
            return 0;
        uint8_t id = pdu[pos];
        size_t len = pdu[pos + 1];
        pos += 2;
        if (len > size - pos)
            return 0;
        if (id < 7) {
            found.object[id].assign(reinterpret_cast<const char*>(pdu + pos), len);
            found.present |= 1u << id;
        }
        pos += len;
    }
    *texts = found;
    return 1;
}

} // namespace mistvale
