#pragma once

#include <cstddef>
#include <cstdint>

// System-level helpers of ModbusLink: what libmodbus does not do for a serial port, and the reading of
// raw replies straight from the link's file descriptor. Implemented per system (link_io_linux.cpp).

// Readies a serial device before libmodbus opens it: clears HUPCL so that neither our close nor the
// termios libmodbus restores at close drops DTR (devices that reset on DTR would reset at every read).
// Returns 0 when the device cannot be opened or another program holds it exclusively.
int PrepareSerialDevice(const char* devicePath);

// Claims an open serial port for this process alone (TIOCEXCL plus an exclusive advisory lock, which
// also holds against programs running as root). Returns 0 when another program holds it.
int ClaimSerialDevice(int fd);

// Gives the port back before it is closed. The exclusive flag belongs to the terminal, not to the open
// file, and would otherwise outlive the close (pseudo-terminals keep it until their other end goes).
void ReleaseSerialDevice(int fd);

// Time-outs of one raw exchange, in microseconds: for the first byte, and between bytes.
struct ReplyTimeouts {
    long long response_us;
    long long byte_us;
};

// Receives the reply to a raw request of the given function into frame (capacity bytes) and sets
// *length. RTU: a fixed reply shape ends at its length; an identification reply ends at a pause longer
// than the byte time-out once at least four bytes are there (or as soon as its structure is complete
// and its CRC checks out). TCP: the length comes from the MBAP header. Returns 1 when a whole frame
// arrived (not yet checked), 0 on time-out, a frame past the capacity, an impossible header or a
// closed connection (errno is then ETIMEDOUT, EMSGSIZE, EPROTO or ECONNRESET).
int ReceiveRawReply(int fd, bool tcp, uint8_t function, const ReplyTimeouts& timeouts, uint8_t* frame,
                    size_t capacity, size_t* length);
