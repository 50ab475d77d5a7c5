#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace mistvale {

// Framing and checking of the replies to the requests the link frames itself (the reads of functions 1
// to 4, function 9 and Read Device Identification, 0x2B / 0x0E). Everything here works on plain byte buffers
// so that the same rules serve the link and the tests; nothing reads outside [frame, frame + length).

// Modbus function codes that the link builds itself.
constexpr uint8_t kFunctionExceptionStatus = 0x07;
constexpr uint8_t kFunctionNine = 0x09;
constexpr uint8_t kFunctionIdentification = 0x2B;
constexpr uint8_t kMeiReadDeviceId = 0x0E;

// Largest frames libmodbus handles.
constexpr size_t kRtuMaxFrame = 256;
constexpr size_t kTcpMaxFrame = 260;
constexpr size_t kTcpHeaderLength = 7;

// Length of an RTU reply, as far as the bytes received so far tell it, from the frame's own function:
// the total frame length (CRC included) when known, 0 while more bytes are needed to know (or the
// function has no shape known here), -1 when the reply has no length of its own and ends at a pause on
// the line (identification, when that is the function asked).
int RtuReplyLength(const uint8_t* frame, size_t have, uint8_t function);

// For an RTU identification reply: the total length its own structure gives (header, objects, CRC)
// once enough bytes are there to walk every object, else 0. Lets the reader end before the pause
// when the frame is complete and its CRC checks out.
size_t RtuIdentificationLength(const uint8_t* frame, size_t have);

// Total length of a Modbus TCP reply from its MBAP header: 0 while fewer than 7 bytes are there,
// -1 when the header is impossible (protocol id not 0, length below 2 or past the largest frame).
int TcpReplyLength(const uint8_t* frame, size_t have);

// 1 when a complete RTU reply comes from the slave, carries the function (not its exception form)
// and its CRC is right.
int CheckRtuReply(const uint8_t* frame, size_t length, uint8_t slave, uint8_t function);

// 1 when a complete TCP reply carries the unit id, the function, and as many bytes as its header says.
int CheckTcpReply(const uint8_t* frame, size_t length, uint8_t unit, uint8_t function);

// The seven identification texts of a device, as the 8-bit bytes it sent: 0 vendor name, 1 product
// code, 2 major/minor revision, 3 vendor URL, 4 product name, 5 model name, 6 user application name.
struct IdentificationBytes {
    std::array<std::string, 7> object;
    unsigned present = 0; // bit i set when the last parsed reply carried object i
};

// Reads the objects of a checked identification reply. The PDU starts at headerLength and ends
// checksumLength bytes before the end of the frame. Objects 0 to 6 are stored into texts, others are
// skipped, objects the reply does not carry keep their text. Returns 0 and leaves texts untouched when
// the PDU is not a Read Device Identification reply or an object runs past its end.
int ParseIdentificationReply(const uint8_t* frame, size_t length, size_t headerLength, size_t checksumLength,
                             IdentificationBytes* texts);

} // namespace mistvale
