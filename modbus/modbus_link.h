#pragma once

#include "modbus/frame_capture.h"
#include "platform/wide_string.h"

#include <cstdint>
#include <string>
#include <vector>

typedef struct _modbus modbus_t; // NOLINT(bugprone-reserved-identifier): libmodbus's own name

namespace mistvale {

// How a link reaches its device: over a serial line or over TCP (modbus_link.cpp).
struct LinkTransport;

// LastError beyond errno: a TCP host name that does not resolve, and a TCP reply whose transaction id is
// not the request's (an answer to an earlier request, or a gateway that mixes up its clients).
constexpr int kLinkErrorHostNotFound = 0x20000;
constexpr int kLinkErrorOtherTransaction = 0x20001;

// Called by ScanSlaves for each slave that answers; returning 0 ends the scan.
typedef int (*SlaveFoundHandler)(unsigned slave, void* userData);
// Called by ScanSlaves before each address is probed; returning 0 ends the scan there.
typedef int (*SlaveProbeHandler)(unsigned slave, unsigned lastSlave, void* userData);

// One open libmodbus context, opened for one piece of work (one read, one write, one register-map run,
// one port of a search) and always closed at its end. Not shared between threads.
//
// Operations return 1 for success and 0 for failure. A request that fails because the connection was
// reset, its handle went bad or the pipe broke is sent once more over a new connection; a second
// failure fails the request. The link never uses libmodbus's own link recovery, which also sleeps
// after every time-out.
//
// No reply is ever taken for a later request's: the input is emptied before every request, a reply is
// checked for slave (unit id on TCP), function, length and CRC, a frame of another slave is passed
// over, and after a request fails without a proper reply a TCP link sends its next request over a new
// connection. A reply to an earlier request of the same slave that arrives during the next one cannot
// be told apart on a serial line; the refresh therefore asks a slave that did not answer nothing more
// in that pass. Every request ends within its deadline, the response time-out plus the line time of
// the largest frame, however slowly a device sends.
class ModbusLink {
public:
    ModbusLink();
    ~ModbusLink();
    ModbusLink(const ModbusLink&) = delete;
    ModbusLink& operator=(const ModbusLink&) = delete;

    // TCP when tcpServer is not empty (the serial arguments are then ignored), otherwise RTU over the
    // serial port listed under portName (or the last port for "***USE_LAST_DEVICE***"), 8 data bits,
    // 1 stop bit, parity 'N', 'E' or 'O'. The port is claimed for exclusive use; a port that another
    // program holds fails. stopBitsMode 0 is the only mode. Disconnects first.
    [[nodiscard]] int Connect(const WideString& portName, unsigned baud, char16_t parity, int stopBitsMode,
                              const std::string& tcpServer, const std::string& tcpPort);
    // Closes and frees the context; harmless when closed.
    void Disconnect();
    [[nodiscard]] int IsOpen() const { return ctx_ != nullptr; }
    [[nodiscard]] int IsTcp() const;
    // The errno of the last failed open or request (libmodbus's EMB* codes included); 0 before any.
    [[nodiscard]] int LastError() const { return error_; }
    // The device path of the serial port of the last Connect (empty on TCP or before a lookup).
    const std::string& DevicePath() const { return device_; }
    // The rate the serial line runs at (0 on TCP or when closed).
    unsigned LineSpeed() const;
    // How long one request may take at most, in microseconds.
    long long RequestDeadlineUs() const { return baseUs_ + wireUs_; }

    // Reads *count items from address with a read function (1 coils, 2 discrete inputs, 3 holding and
    // 4 input registers, 7 exception status, 9) into buffer, which must hold *count 16-bit items (at
    // least 1). Bits arrive as items 0 or 1. On success *count is the number of items delivered. Any
    // other function code fails without sending anything, so a read never changes the device.
    // quickTimeout shortens the response time-out to 150 ms plus the line time of a probe and its
    // shortest reply for this request. An exception reply leaves MODBUS_ENOBASE + its code in LastError.
    [[nodiscard]] int ReadItems(unsigned slave, unsigned address, unsigned functionCode, unsigned* count,
                                uint16_t* buffer, int quickTimeout);
    // Writes one value cut to 16 bits: function code 1 sends Write Single Coil (ON for any non-zero
    // value), every other code Write Single Register.
    [[nodiscard]] int WriteItem(unsigned slave, unsigned address, unsigned functionCode, unsigned value);
    // After a reply that may have been a late one to an earlier request: 1 when nothing more arrives
    // within us microseconds (the line is in step), 0 when something does (thrown away). TCP links are
    // always in step: a failed request ends its connection.
    [[nodiscard]] int StaysQuiet(long long us);
    // Writes count registers (1 to 123) from address with one Write Multiple Registers request.
    [[nodiscard]] int WriteRegisters(unsigned slave, unsigned address, const uint16_t* values,
                                     unsigned count);
    // Probes slaves 1 to lastSlave with a quick read of holding register 0, 10 ms apart, and calls
    // onSlaveFound for each that answers (onProbe, when given, before each probe). Returns 0 as soon
    // as either returns 0, else 1.
    int ScanSlaves(SlaveFoundHandler onSlaveFound, void* userData, unsigned lastSlave,
                   SlaveProbeHandler onProbe = nullptr);
    // One Read Device Identification request (code 1 basic, 2 regular). Stores objects 0 to 6 of the
    // reply into texts; texts the reply does not carry keep their content.
    [[nodiscard]] int ReadIdentification(unsigned slave, int readDeviceIdCode, WideString texts[7]);

private:
    template <typename Request> int WithReconnect(Request request);
    [[nodiscard]] int Reconnect();
    void ApplyTimeout(long long baseUs, long long wireUs);
    void AfterFailedRequest(int err);
    // What a reply must look like beyond slave, function and checksum: its whole length (0: any), the
    // byte count after the function (-1: none), and bytes it must repeat from the request (a write's
    // address and quantity) right after the function.
    struct ReplyShape {
        size_t length = 0;
        int byteCount = -1;
        const uint8_t* echo = nullptr;
        size_t echoLength = 0;
    };
    [[nodiscard]] int RawExchange(unsigned slave, const uint8_t* request, int requestLength, uint8_t function,
                                  uint8_t* reply, size_t capacity, size_t* replyLength,
                                  const ReplyShape& shape);
    // Throws away what the line received and nobody read (a late reply, noise), showing it to the
    // traffic capture first.
    void DiscardInput();
    // Hands a frame to the traffic capture.
    void Capture(FrameDirection direction, const uint8_t* bytes, size_t length, double rttMs,
                 const char* outcome);
    // The request as the library puts it on the wire: with the MBAP header (transaction id 0) or with
    // the CRC.
    std::vector<uint8_t> WireRequest(const uint8_t* request, int requestLength) const;
    [[nodiscard]] int ReadExceptionStatus(unsigned slave, uint16_t* status);
    [[nodiscard]] int ReadDataItems(unsigned slave, uint8_t function, unsigned address, unsigned count,
                                    uint16_t* buffer);
    [[nodiscard]] int ReadFunctionNine(unsigned slave);
    int SetSlave(unsigned slave);

    modbus_t* ctx_ = nullptr;
    const LinkTransport* transport_; // serial or TCP; serial while closed
    bool stale_ = false;             // TCP: the last request failed; the next one goes over a new connection
    int error_ = 0;
    std::string device_;
    std::string lineName_;      // the line in captured frames: the port's name, or host:port
    long long baseUs_ = 500000; // the library's response time-out
    long long wireUs_ = 0;      // line time of the largest frame, and the gap before it
    unsigned baud_ = 0;         // the rate the line runs at
};

} // namespace mistvale
