#pragma once
// Byte-level exchanges with the simulator, for checking replies byte by byte: a TCP socket to it and
// a raw pseudo-terminal end.

#include <cstdint>
#include <string>
#include <vector>

namespace mistvale {

using Bytes = std::vector<uint8_t>;

// Connects to 127.0.0.1:port; -1 on failure.
int ConnectTcp(int port);
// Opens a pseudo-terminal end for reading and writing raw bytes; -1 on failure.
int OpenRawTerminal(const std::string& path);
// Writes `request`, then collects what arrives until nothing came for `quietMs` (or `maxMs` passed).
Bytes Exchange(int fd, const Bytes& request, int quietMs = 100, int maxMs = 2000);
// Reads what arrives until nothing came for quietMs; an empty result means silence.
Bytes Collect(int fd, int quietMs, int maxMs);
// "01 2B 0E" style text of the bytes, for readable failure messages.
std::string Hex(const Bytes& bytes);
// An RTU frame: the bytes followed by their CRC.
Bytes WithCrc(Bytes frame);
// A TCP frame: MBAP header with the transaction id, unit 1, and the PDU.
Bytes TcpFrame(uint16_t transaction, const Bytes& pdu, uint8_t unit = 1);

} // namespace mistvale
