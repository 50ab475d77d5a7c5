#pragma once
// Framing helpers of the simulator: the RTU CRC, the length of an RTU request as far as its first bytes
// tell it, and the wrapping of a reply PDU into an RTU or TCP frame.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mvsim {

// Modbus CRC-16 (polynomial 0xA001, initial 0xFFFF); the frame carries it low byte first.
uint16_t ModbusCrc16(const uint8_t* data, size_t length);

// Total length (address, PDU and CRC) of the RTU request whose first `have` bytes are in `frame`:
// > 0 the length, 0 when more bytes are needed to tell, -1 when the function has no length rule here
// (the caller then ends the frame at a pause on the line).
int RtuRequestLength(const uint8_t* frame, size_t have);

// Appends slave, PDU and CRC to `out`; with corruptCrc the CRC is inverted so that the client rejects it.
void AppendRtuFrame(std::vector<uint8_t>& out, uint8_t slave, const std::vector<uint8_t>& pdu,
                    bool corruptCrc);

// Appends the MBAP header (transaction id, protocol 0, length), the unit id and the PDU to `out`.
void AppendTcpFrame(std::vector<uint8_t>& out, uint16_t transactionId, uint8_t unit,
                    const std::vector<uint8_t>& pdu);

} // namespace mvsim
