#include "tests/sim/raw_exchange.h"

#include "sim/modbus_frame.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace mistvale {

using namespace mvsim;

int ConnectTcp(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

int OpenRawTerminal(const std::string& path) {
    return open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
}

Bytes Collect(int fd, int quietMs, int maxMs) {
    Bytes received;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(maxMs);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, quietMs) <= 0)
            break;
        uint8_t chunk[512];
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n <= 0)
            break;
        received.insert(received.end(), chunk, chunk + n);
    }
    return received;
}

Bytes Exchange(int fd, const Bytes& request, int quietMs, int maxMs) {
    if (write(fd, request.data(), request.size()) != static_cast<ssize_t>(request.size()))
        return {};
    return Collect(fd, quietMs, maxMs);
}

std::string Hex(const Bytes& bytes) {
    std::string text;
    char part[4];
    for (uint8_t byte : bytes) {
        std::snprintf(part, sizeof part, "%02X ", byte);
        text += part;
    }
    return text;
}

Bytes WithCrc(Bytes frame) {
    uint16_t crc = ModbusCrc16(frame.data(), frame.size());
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    return frame;
}

Bytes TcpFrame(uint16_t transaction, const Bytes& pdu, uint8_t unit) {
    Bytes frame;
    AppendTcpFrame(frame, transaction, unit, pdu);
    return frame;
}

} // namespace mistvale
