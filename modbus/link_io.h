#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mistvale {

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

// Runs the line at baud when the rate has no B-constant of its own (14400, 250000, ...), which the
// serial library would otherwise open at 9600. 1 when the line runs at baud afterwards.
int SetSerialLineSpeed(int fd, unsigned baud);
// The line's output rate in bits per second; 0 when it cannot be read.
unsigned SerialLineSpeed(int fd);

// 1 when the host name resolves to an address (the serial library reports an unknown host as a
// refused connection).
int HostResolves(const char* host, const char* service);

// Throws away what a serial line has received and nobody has read yet.
void DiscardSerialInput(int fd);

// Waits up to us for anything to arrive on a serial line: 1 when nothing did; 0 when something did (it
// is thrown away, after being appended to thrown when that is given) or the wait failed.
int SerialStaysQuiet(int fd, long long us, std::vector<uint8_t>* thrown = nullptr);

// Appends to out whatever a line has received and nobody has read yet, without waiting (at most
// capacity bytes; the rest stays for a discard to throw away).
void ReadWaitingInput(int fd, std::vector<uint8_t>* out, size_t capacity);

// Time limits of one raw exchange, in microseconds: the whole reply must be there within total_us of
// the start of the wait; an RTU reply without a length of its own ends at a pause of pause_us.
struct ReplyTimeouts {
    long long totalUs;
    long long pauseUs;
};

// Receives the reply to a raw request of the given function into frame (capacity bytes) and sets
// *length (on failure, to the bytes that did arrive). RTU: a fixed reply shape ends at its length; an
// identification reply ends at a pause of pause_us once at least four bytes are there (or as soon as its
// structure is complete and its CRC checks out). TCP: the length comes from the MBAP header. A device that
// sends its reply byte by byte never stretches the wait past total_us. Returns 1 when a whole frame arrived
// (not yet checked), 0 on time-out, a frame past the capacity, an impossible header or a closed connection
// (errno is then ETIMEDOUT, EMSGSIZE, EPROTO or ECONNRESET).
int ReceiveRawReply(int fd, bool tcp, uint8_t function, const ReplyTimeouts& timeouts, uint8_t* frame,
                    size_t capacity, size_t* length);

} // namespace mistvale
