#include "modbus/modbus_link.h"

#include "modbus/link_io.h"
#include "modbus/modbus_crc.h"
#include "modbus/raw_reply.h"
#include "modbus/serial_port_lookup.h"
#include "platform/check.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <modbus/modbus.h>
#include <thread>

namespace mistvale {

namespace {

constexpr uint32_t kQuickTimeoutUs = 150000;
constexpr auto kScanPause = std::chrono::milliseconds(10);

bool IsBrokenConnection(int err) {
    return err == ECONNRESET || err == EBADF || err == EPIPE;
}

long long TimeoutUs(uint32_t sec, uint32_t usec) {
    return static_cast<long long>(sec) * 1000000 + usec;
}

// A TCP reply of the largest size needs no line time of its own; this covers a slow network.
constexpr long long kTcpWireAllowanceUs = 100000;
// Line time of the largest RTU frame and the 3.5-character gap before it, 11 bits a character.
long long WireTimeUs(unsigned baud) {
    if (baud == 0)
        baud = 9600;
    return (static_cast<long long>(kRtuMaxFrame) * 11 + 39) * 1000000 / baud;
}

// A slave probe's exchange on the line: its 8-byte request and the shortest reply (an exception, 5
// bytes), each with the 3.5-character gap before it. A silent address costs no more than that.
long long ProbeWireUs(unsigned baud) {
    if (baud == 0)
        baud = 9600;
    return ((8 + 5) * 11 + 2 * 39) * 1000000LL / baud;
}

// The rates the serial library sets itself; any other it opens at 9600.
bool LibraryKnowsRate(unsigned baud) {
    static const unsigned kRates[] = {110,     300,     600,     1200,    2400,    4800,   9600,   19200,
                                      38400,   57600,   115200,  230400,  460800,  500000, 576000, 921600,
                                      1000000, 1152000, 1500000, 2500000, 3000000, 3500000};
    return std::find(std::begin(kRates), std::end(kRates), baud) != std::end(kRates);
}

// The replies a device really sent: exceptions 1 to 11, whose frames keep the line in step.
bool IsModbusException(int err) {
    return err > MODBUS_ENOBASE && err <= MODBUS_ENOBASE + MODBUS_EXCEPTION_GATEWAY_TARGET;
}

// Identification texts come as 8-bit text; UTF-8 when they are valid UTF-8, else taken as Latin-1 so
// that a vendor name in a legacy code page still shows instead of vanishing.
void AssignDeviceText(WideString& out, const std::string& bytes) {
    int n = static_cast<int>(bytes.size());
    if (!out.AssignAnsi(bytes.data(), n, WideString::kCodePageAnsi))
        out.AssignAnsi(bytes.data(), n, WideString::kCodePageLatin1);
    // A NUL inside the object would cut the text anyway; keep what comes before it.
    out.Recount();
}

// What a request that got no proper reply leaves for the next one.
enum class Settled {
    InStep,        // nothing of it can reach the next request
    NewConnection, // the next request goes over a new connection
};

} // namespace

// What differs between reaching a device over a serial line and over TCP, the way the serial library
// keeps its own backends apart: the link says each step once, the transport fills in how it is done.
struct LinkTransport {
    bool tcp;
    size_t headerLength;   // bytes before the function code: the slave address, or the MBAP header
    size_t checksumLength; // bytes after the data: the CRC, or none
    size_t maxFrame;
    // Line time of the largest frame and the gap before it at the given rate.
    long long (*wireUs)(unsigned baud);
    // Line time of a slave probe and its shortest reply.
    long long (*probeWireUs)(unsigned baud);
    // Takes the opened line for this process alone; 0 when another program holds it.
    int (*claim)(int fd);
    // Gives the line back before it is closed.
    void (*release)(int fd);
    // Runs the line at baud where the library could not; 0 when it stays at 9600.
    int (*runAt)(int fd, unsigned baud);
    // Throws away what arrived before anything was asked.
    void (*discardInput)(int fd);
    // After a request that got no proper reply.
    Settled (*settle)(int fd);
    // The rate the line runs at; 0 when there is no line.
    unsigned (*lineSpeed)(int fd);
    // A refused connection to a host that does not resolve is reported as such.
    int (*refineConnectError)(int err, const std::string& server, const std::string& port);
    // 1 when a reply the library read (exception status) came from the slave asked.
    int (*fromSlave)(const uint8_t* reply, uint8_t slave);
    // 1 when a raw reply is whole, from the slave asked and carries the function.
    int (*checkReply)(const uint8_t* frame, size_t length, uint8_t unit, uint8_t function);
    // 1 when a received frame is intact (its CRC), whoever sent it.
    int (*checkFrame)(const uint8_t* frame, size_t length);
};

namespace {

int NoClaim(int) {
    return 1;
}
void NoLineAction(int) {}
int NoRate(int, unsigned) {
    return 1;
}
unsigned NoLineSpeed(int) {
    return 0;
}
long long TcpWireUs(unsigned) {
    return kTcpWireAllowanceUs;
}
Settled TcpSettle(int) {
    // Whatever the device still sends for this request goes to a connection nobody reads.
    return Settled::NewConnection;
}
Settled RtuSettle(int fd) {
    // No wait for a late reply: the input is thrown away before every request, a reply from another
    // slave is refused by its address, and the refresh asks a slave that failed to answer nothing more
    // in that pass, so the late reply cannot be taken for the next request to it.
    DiscardSerialInput(fd);
    return Settled::InStep;
}
int TcpConnectError(int err, const std::string& server, const std::string& port) {
    return err == ECONNREFUSED && !HostResolves(server.c_str(), port.c_str()) ? kLinkErrorHostNotFound : err;
}
int RtuConnectError(int err, const std::string&, const std::string&) {
    return err;
}
int RtuRunAt(int fd, unsigned baud) {
    // Rates without a constant of their own are opened at 9600 by the library; where the driver takes
    // the rate asked for, the line runs at it, else it stays at 9600.
    return LibraryKnowsRate(baud) || SetSerialLineSpeed(fd, baud);
}
int TcpFromSlave(const uint8_t* reply, uint8_t slave) {
    // The unit id names the device behind a gateway (the transaction id is checked first).
    return reply[6] == slave;
}
int RtuFromSlave(const uint8_t* reply, uint8_t slave) {
    return reply[0] == slave;
}
int RtuFrameIntact(const uint8_t* frame, size_t length) {
    return length >= 4 && ModbusCrcMatches(frame, length) ? 1 : 0;
}
int TcpFrameIntact(const uint8_t*, size_t) {
    return 1;
}
int TcpCheckReply(const uint8_t* frame, size_t length, uint8_t unit, uint8_t function) {
    // Raw requests go out with transaction id 0.
    return length >= 2 && frame[0] == 0 && frame[1] == 0 && CheckTcpReply(frame, length, unit, function);
}

constexpr LinkTransport kSerialTransport = {.tcp = false,
                                            .headerLength = 1,
                                            .checksumLength = 2,
                                            .maxFrame = kRtuMaxFrame,
                                            .wireUs = WireTimeUs,
                                            .probeWireUs = ProbeWireUs,
                                            .claim = ClaimSerialDevice,
                                            .release = ReleaseSerialDevice,
                                            .runAt = RtuRunAt,
                                            .discardInput = DiscardSerialInput,
                                            .settle = RtuSettle,
                                            .lineSpeed = SerialLineSpeed,
                                            .refineConnectError = RtuConnectError,
                                            .fromSlave = RtuFromSlave,
                                            .checkReply = CheckRtuReply,
                                            .checkFrame = RtuFrameIntact};

constexpr LinkTransport kTcpTransport = {.tcp = true,
                                         .headerLength = kTcpHeaderLength,
                                         .checksumLength = 0,
                                         .maxFrame = kTcpMaxFrame,
                                         .wireUs = TcpWireUs,
                                         .probeWireUs = TcpWireUs,
                                         .claim = NoClaim,
                                         .release = NoLineAction,
                                         .runAt = NoRate,
                                         .discardInput = NoLineAction,
                                         .settle = TcpSettle,
                                         .lineSpeed = NoLineSpeed,
                                         .refineConnectError = TcpConnectError,
                                         .fromSlave = TcpFromSlave,
                                         .checkReply = TcpCheckReply,
                                         .checkFrame = TcpFrameIntact};

} // namespace

ModbusLink::ModbusLink() : transport_(&kSerialTransport) {}

ModbusLink::~ModbusLink() {
    Disconnect();
}

void ModbusLink::Disconnect() {
    if (ctx_) {
        transport_->release(modbus_get_socket(ctx_));
        modbus_close(ctx_);
        modbus_free(ctx_);
        ctx_ = nullptr;
    }
    transport_ = &kSerialTransport;
    stale_ = false;
}

int ModbusLink::Connect(const WideString& portName, unsigned baud, char16_t parity, int stopBitsMode,
                        const std::string& tcpServer, const std::string& tcpPort) {
    Disconnect();
    error_ = 0;
    device_.clear();
    if (!tcpServer.empty()) {
        // The resolver's own limits: host names up to 1024 bytes, services up to 31.
        if (tcpServer.size() > 1024 || tcpPort.empty() || tcpPort.size() > 31) {
            error_ = EINVAL;
            return 0;
        }
        ctx_ = modbus_new_tcp_pi(tcpServer.c_str(), tcpPort.c_str());
        transport_ = &kTcpTransport;
    } else {
        if (stopBitsMode != 0 || (parity != u'N' && parity != u'E' && parity != u'O') || baud == 0) {
            error_ = EINVAL;
            return 0;
        }
        std::string device;
        if (!LookUpSerialDevice(portName, &device)) {
            error_ = ENODEV;
            return 0;
        }
        device_ = device;
        if (!PrepareSerialDevice(device.c_str())) {
            error_ = errno;
            return 0;
        }
        ctx_ = modbus_new_rtu(device.c_str(), static_cast<int>(baud), static_cast<char>(parity), 8, 1);
    }
    if (!ctx_) {
        error_ = errno ? errno : EINVAL;
        transport_ = &kSerialTransport;
        return 0;
    }
    uint32_t sec = 0, usec = 0;
    modbus_get_response_timeout(ctx_, &sec, &usec);
    baseUs_ = TimeoutUs(sec, usec);
    baud_ = baud;
    wireUs_ = transport_->wireUs(baud);
    ApplyTimeout(baseUs_, wireUs_);
    modbus_set_error_recovery(ctx_, MODBUS_ERROR_RECOVERY_PROTOCOL);
    errno = 0;
    if (modbus_connect(ctx_) != 0) {
        // A connect that timed out leaves the errno of its first step.
        error_ = transport_->refineConnectError(errno == EINPROGRESS || errno == 0 ? ETIMEDOUT : errno,
                                                tcpServer, tcpPort);
        modbus_free(ctx_);
        ctx_ = nullptr;
        transport_ = &kSerialTransport;
        return 0;
    }
    if (transport_->tcp) {
        lineName_ = tcpServer + ":" + tcpPort;
    } else {
        const size_t slash = device_.rfind('/');
        lineName_ = slash == std::string::npos ? device_ : device_.substr(slash + 1);
    }
    const int fd = modbus_get_socket(ctx_);
    if (!transport_->claim(fd)) {
        Disconnect();
        error_ = EBUSY;
        return 0;
    }
    if (!transport_->runAt(fd, baud)) {
        baud_ = 9600;
        wireUs_ = transport_->wireUs(9600);
        ApplyTimeout(baseUs_, wireUs_);
    }
    // Whatever a device sent before this open answers no request of ours.
    DiscardInput();
    return 1;
}

int ModbusLink::IsTcp() const {
    return transport_->tcp ? 1 : 0;
}

unsigned ModbusLink::LineSpeed() const {
    return ctx_ ? transport_->lineSpeed(modbus_get_socket(ctx_)) : 0;
}

void ModbusLink::ApplyTimeout(long long baseUs, long long wireUs) {
    // With no byte time-out the library counts the whole reply against the response time-out, so a
    // device that sends one byte at a time cannot stretch a request.
    const long long us = baseUs + wireUs;
    modbus_set_response_timeout(ctx_, static_cast<uint32_t>(us / 1000000),
                                static_cast<uint32_t>(us % 1000000));
    modbus_set_byte_timeout(ctx_, 0, 0);
}

int ModbusLink::Reconnect() {
    transport_->release(modbus_get_socket(ctx_));
    modbus_close(ctx_);
    std::this_thread::sleep_for(std::chrono::microseconds(baseUs_));
    if (modbus_connect(ctx_) != 0 || !transport_->claim(modbus_get_socket(ctx_))) {
        // Nothing more can go over this link; later requests fail at once instead of each waiting.
        error_ = errno;
        Disconnect();
        return 0;
    }
    DiscardInput();
    return 1;
}

void ModbusLink::AfterFailedRequest(int err) {
    if (!ctx_ || IsModbusException(err))
        return; // a proper reply came: the link is in step
    if (!transport_->tcp)
        DiscardInput();
    switch (transport_->settle(modbus_get_socket(ctx_))) {
    case Settled::InStep:
        break;
    case Settled::NewConnection:
        stale_ = true;
        break;
    }
}

template <typename Request> int ModbusLink::WithReconnect(Request request) {
    if (!ctx_) {
        errno = error_ ? error_ : ENOTCONN;
        return -1;
    }
    if (stale_) {
        stale_ = false;
        modbus_close(ctx_);
        if (modbus_connect(ctx_) != 0) {
            error_ = errno == EINPROGRESS || errno == 0 ? ETIMEDOUT : errno;
            Disconnect();
            errno = error_;
            return -1;
        }
    }
    int rc = request();
    if (rc >= 0)
        return rc;
    int err = errno;
    if (IsBrokenConnection(err)) {
        if (!Reconnect()) {
            errno = error_;
            return -1;
        }
        rc = request();
        if (rc >= 0)
            return rc;
        err = errno;
    }
    error_ = err;
    if (err == ECONNABORTED) {
        Disconnect();
        errno = err;
        return -1;
    }
    AfterFailedRequest(err);
    errno = err;
    return -1;
}

int ModbusLink::SetSlave(unsigned slave) {
    if (!ctx_ || slave > 255)
        return 0;
    return modbus_set_slave(ctx_, static_cast<int>(slave)) == 0 ? 1 : 0;
}

int ModbusLink::ReadItems(unsigned slave, unsigned address, unsigned functionCode, unsigned* count,
                          uint16_t* buffer, int quickTimeout) {
    if (!MV_CHECK(count != nullptr && buffer != nullptr) || !ctx_ || *count == 0)
        return 0;
    const unsigned wanted = *count;
    const int addr = static_cast<int>(address & 0xFFFF);
    switch (functionCode) {
    case 1:
    case 2:
        if (wanted > MODBUS_MAX_READ_BITS)
            return 0;
        break;
    case 3:
    case 4:
        if (wanted > MODBUS_MAX_READ_REGISTERS)
            return 0;
        break;
    case 7:
    case 9:
        break;
    default:
        // No reply shape is settled for other codes, and a read must never reach a function that
        // changes the device.
        return 0;
    }

    if (quickTimeout) {
        // A probe's reply is a few bytes: the line time of the largest frame would make a silent
        // address cost seconds at low rates.
        ApplyTimeout(kQuickTimeoutUs, transport_->probeWireUs(baud_));
    }
    int ok = 0;
    if (SetSlave(slave)) {
        std::memset(buffer, 0, sizeof(uint16_t) * (functionCode == 7 || functionCode == 9 ? 1 : wanted));
        unsigned delivered = 0;
        switch (functionCode) {
        case 1:
        case 2:
        case 3:
        case 4:
            if (ReadDataItems(slave, static_cast<uint8_t>(functionCode), static_cast<unsigned>(addr), wanted,
                              buffer))
                delivered = wanted;
            break;
        case 7:
            if (ReadExceptionStatus(slave, buffer))
                delivered = 1;
            break;
        case 9:
            if (ReadFunctionNine(slave))
                delivered = 1;
            break;
        default:
            break;
        }
        if (delivered) {
            *count = delivered;
            ok = 1;
        }
    }
    if (quickTimeout && ctx_)
        ApplyTimeout(baseUs_, wireUs_);
    return ok;
}

int ModbusLink::ReadExceptionStatus(unsigned slave, uint16_t* status) {
    const uint8_t request[2] = {static_cast<uint8_t>(slave), kFunctionExceptionStatus};
    uint8_t reply[kTcpMaxFrame];
    size_t length = 0;
    ReplyShape shape;
    shape.length = transport_->headerLength + 2 + transport_->checksumLength;
    if (!RawExchange(slave, request, 2, kFunctionExceptionStatus, reply, sizeof reply, &length, shape))
        return 0;
    *status = reply[transport_->headerLength + 1];
    return 1;
}

void ModbusLink::Capture(FrameDirection direction, const uint8_t* bytes, size_t length, double rttMs,
                         const char* outcome) {
    FrameRecord frame;
    frame.timeUs = std::chrono::duration_cast<std::chrono::microseconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
    frame.line = lineName_;
    frame.tcp = transport_->tcp;
    frame.direction = direction;
    frame.bytes.assign(bytes, bytes + length);
    frame.rttMs = rttMs;
    frame.outcome = outcome != nullptr ? outcome : "";
    PublishFrame(frame);
}

void ModbusLink::DiscardInput() {
    if (!ctx_)
        return;
    const int fd = modbus_get_socket(ctx_);
    if (!transport_->tcp && FrameCaptureOn()) {
        std::vector<uint8_t> thrown;
        ReadWaitingInput(fd, &thrown, 4096);
        if (!thrown.empty())
            Capture(FrameDirection::Discarded, thrown.data(), thrown.size(), -1, nullptr);
    }
    transport_->discardInput(fd);
}

std::vector<uint8_t> ModbusLink::WireRequest(const uint8_t* request, int requestLength) const {
    const size_t n = std::min(static_cast<size_t>(requestLength), kRtuMaxFrame - 2);
    uint8_t adu[kRtuMaxFrame + 6];
    size_t length = 0;
    if (transport_->tcp) {
        // Transaction id 0, protocol 0, the length of unit id and PDU, then both.
        adu[0] = adu[1] = adu[2] = adu[3] = 0;
        adu[4] = static_cast<uint8_t>(n >> 8);
        adu[5] = static_cast<uint8_t>(n & 0xFF);
        length = 6;
    }
    std::memcpy(adu + length, request, n);
    length += n;
    if (!transport_->tcp) {
        const uint16_t crc = ModbusCrc16(request, n);
        adu[length++] = static_cast<uint8_t>(crc & 0xFF);
        adu[length++] = static_cast<uint8_t>(crc >> 8);
    }
    return std::vector<uint8_t>(adu, adu + length);
}

namespace {

// How a reply that failed is named in captured frames.
const char* OutcomeOfError(int err) {
    if (err > MODBUS_ENOBASE && err < MODBUS_ENOBASE + 256) {
        static thread_local char text[32];
        std::snprintf(text, sizeof text, "exception %d", err - MODBUS_ENOBASE);
        return text;
    }
    switch (err) {
    case ETIMEDOUT:
        return "time-out";
    case EMBBADCRC:
        return "CRC";
    case EMBBADSLAVE:
        return "wrong slave";
    case kLinkErrorOtherTransaction:
        return "other transaction";
    case EMBBADDATA:
        return "wrong reply";
    case EMSGSIZE:
        return "too long";
    case EPROTO:
        return "bad header";
    case ECONNRESET:
        return "closed";
    default:
        return "failed";
    }
}

} // namespace

int ModbusLink::RawExchange(unsigned slave, const uint8_t* request, int requestLength, uint8_t function,
                            uint8_t* reply, size_t capacity, size_t* replyLength, const ReplyShape& shape) {
    if (!ctx_)
        return 0;
    const size_t header = transport_->headerLength;
    const bool capture = FrameCaptureOn();
    auto sentAt = std::chrono::steady_clock::now();
    auto rtt = [&] {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - sentAt).count();
    };
    int rc = WithReconnect([&] {
        const int fd = modbus_get_socket(ctx_);
        // Whatever arrived before this request (a reply that came too late) answers no request of ours.
        DiscardInput();
        if (modbus_send_raw_request(ctx_, request, requestLength) < 0)
            return -1;
        sentAt = std::chrono::steady_clock::now();
        if (capture) {
            const std::vector<uint8_t> adu = WireRequest(request, requestLength);
            Capture(FrameDirection::Sent, adu.data(), adu.size(), -1, nullptr);
        }
        uint32_t sec = 0, usec = 0;
        modbus_get_response_timeout(ctx_, &sec, &usec);
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::microseconds(TimeoutUs(sec, usec));
        for (;;) {
            const long long left = std::chrono::duration_cast<std::chrono::microseconds>(
                                       deadline - std::chrono::steady_clock::now())
                                       .count();
            if (left <= 0) {
                errno = ETIMEDOUT;
                if (capture)
                    Capture(FrameDirection::Received, reply, 0, rtt(), OutcomeOfError(errno));
                return -1;
            }
            if (!ReceiveRawReply(fd, transport_->tcp, function, ReplyTimeouts{left, baseUs_}, reply, capacity,
                                 replyLength)) {
                if (capture) {
                    const int err = errno;
                    Capture(FrameDirection::Received, reply, *replyLength, rtt(), OutcomeOfError(err));
                    errno = err;
                }
                return -1;
            }
            if (transport_->tcp)
                break;
            if (!transport_->checkFrame(reply, *replyLength)) {
                // A garbled frame: nothing on the line can be matched to this request any more.
                if (capture)
                    Capture(FrameDirection::Received, reply, *replyLength, rtt(), "CRC");
                errno = EMBBADCRC;
                return -1;
            }
            if (reply[0] == request[0])
                break;
            // Another slave's late reply: it is no answer to this request, which may still come.
            if (capture)
                Capture(FrameDirection::Received, reply, *replyLength, rtt(), "other slave");
            *replyLength = 0;
        }
        return 1;
    });
    if (rc < 0) {
        if (ctx_ && !transport_->tcp)
            DiscardInput();
        return 0;
    }
    // A whole frame: from whom, what it says, and whether it has the shape of this request's reply.
    int err = 0;
    const size_t length = *replyLength;
    // Requests go out with transaction id 0.
    if (transport_->tcp && (reply[0] != 0 || reply[1] != 0))
        err = kLinkErrorOtherTransaction;
    else if (!transport_->fromSlave(reply, static_cast<uint8_t>(slave)))
        err = EMBBADSLAVE;
    else if (length > header + 1 && reply[header] == (function | 0x80))
        err = MODBUS_ENOBASE + reply[header + 1];
    else if (!transport_->checkReply(reply, length, static_cast<uint8_t>(slave), function) ||
             (shape.length != 0 && length != shape.length) ||
             (shape.byteCount >= 0 && (length <= header + 1 || reply[header + 1] != shape.byteCount)) ||
             (shape.echo != nullptr && (length < header + 1 + shape.echoLength ||
                                        std::memcmp(reply + header + 1, shape.echo, shape.echoLength) != 0)))
        err = EMBBADDATA;
    if (capture)
        Capture(FrameDirection::Received, reply, length, rtt(), err == 0 ? "ok" : OutcomeOfError(err));
    // Whatever the device sent beyond the frame must not reach the next transaction. A TCP reply is
    // taken by its header's length, and a link that failed goes over a new connection.
    if (ctx_ && !transport_->tcp)
        DiscardInput();
    if (err == 0)
        return 1;
    error_ = err;
    AfterFailedRequest(err);
    errno = err;
    return 0;
}

int ModbusLink::ReadDataItems(unsigned slave, uint8_t function, unsigned address, unsigned count,
                              uint16_t* buffer) {
    const uint8_t request[6] = {static_cast<uint8_t>(slave),        function,
                                static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address & 0xFF),
                                static_cast<uint8_t>(count >> 8),   static_cast<uint8_t>(count & 0xFF)};
    uint8_t reply[kTcpMaxFrame];
    size_t length = 0;
    const size_t header = transport_->headerLength;
    const bool bits = function == 1 || function == 2;
    const size_t bytes = bits ? (count + 7) / 8 : count * 2;
    // A reply of another length answers some other request: a late one, or a confused device.
    ReplyShape shape;
    shape.length = header + 2 + bytes + transport_->checksumLength;
    shape.byteCount = static_cast<int>(bytes);
    if (!RawExchange(slave, request, 6, function, reply, sizeof reply, &length, shape))
        return 0;
    const uint8_t* data = reply + header + 2;
    for (unsigned i = 0; i < count; ++i)
        buffer[i] = bits ? static_cast<uint16_t>((data[i / 8] >> (i % 8)) & 1)
                         : static_cast<uint16_t>(data[2 * size_t{i}] << 8 | data[2 * size_t{i} + 1]);
    return 1;
}

int ModbusLink::ReadFunctionNine(unsigned slave) {
    const uint8_t request[2] = {static_cast<uint8_t>(slave), kFunctionNine};
    uint8_t reply[kTcpMaxFrame];
    size_t length = 0;
    // The reply is the function code alone.
    ReplyShape shape;
    shape.length = transport_->headerLength + 1 + transport_->checksumLength;
    return RawExchange(slave, request, 2, kFunctionNine, reply, sizeof reply, &length, shape);
}

int ModbusLink::ReadIdentification(unsigned slave, int readDeviceIdCode, WideString texts[7]) {
    if (!MV_CHECK(texts != nullptr) || !ctx_ || !SetSlave(slave))
        return 0;
    const uint8_t request[5] = {static_cast<uint8_t>(slave), kFunctionIdentification, kMeiReadDeviceId,
                                static_cast<uint8_t>(readDeviceIdCode), 0};
    uint8_t reply[kTcpMaxFrame];
    size_t length = 0;
    if (!RawExchange(slave, request, 5, kFunctionIdentification, reply, transport_->maxFrame, &length,
                     ReplyShape{}))
        return 0;
    IdentificationBytes bytes;
    if (!ParseIdentificationReply(reply, length, transport_->headerLength, transport_->checksumLength,
                                  &bytes))
        return 0;
    for (int id = 0; id < 7; ++id)
        if (bytes.present & (1u << id))
            AssignDeviceText(texts[id], bytes.object[id]);
    return 1;
}

int ModbusLink::WriteItem(unsigned slave, unsigned address, unsigned functionCode, unsigned value) {
    if (!ctx_ || !SetSlave(slave))
        return 0;
    const uint8_t function = functionCode == 1 ? 5 : 6;
    const uint16_t v =
        functionCode == 1 ? (value != 0 ? 0xFF00 : 0x0000) : static_cast<uint16_t>(value & 0xFFFF);
    const uint8_t request[6] = {static_cast<uint8_t>(slave),
                                function,
                                static_cast<uint8_t>(address >> 8 & 0xFF),
                                static_cast<uint8_t>(address & 0xFF),
                                static_cast<uint8_t>(v >> 8),
                                static_cast<uint8_t>(v & 0xFF)};
    uint8_t reply[kTcpMaxFrame];
    size_t length = 0;
    // The reply repeats the request; like the library, the address is what is checked.
    ReplyShape shape;
    shape.length = transport_->headerLength + 5 + transport_->checksumLength;
    shape.echo = request + 2;
    shape.echoLength = 2;
    return RawExchange(slave, request, 6, function, reply, sizeof reply, &length, shape);
}

int ModbusLink::WriteRegisters(unsigned slave, unsigned address, const uint16_t* values, unsigned count) {
    if (!MV_CHECK(values != nullptr) || !ctx_ || count == 0 || count > MODBUS_MAX_WRITE_REGISTERS ||
        !SetSlave(slave))
        return 0;
    uint8_t request[7 + 2 * MODBUS_MAX_WRITE_REGISTERS] = {static_cast<uint8_t>(slave),
                                                           16,
                                                           static_cast<uint8_t>(address >> 8 & 0xFF),
                                                           static_cast<uint8_t>(address & 0xFF),
                                                           static_cast<uint8_t>(count >> 8),
                                                           static_cast<uint8_t>(count & 0xFF),
                                                           static_cast<uint8_t>(count * 2)};
    for (unsigned i = 0; i < count; ++i) {
        request[7 + 2 * i] = static_cast<uint8_t>(values[i] >> 8);
        request[8 + 2 * i] = static_cast<uint8_t>(values[i] & 0xFF);
    }
    uint8_t reply[kTcpMaxFrame];
    size_t length = 0;
    // The reply repeats the address and the quantity written.
    ReplyShape shape;
    shape.length = transport_->headerLength + 5 + transport_->checksumLength;
    shape.echo = request + 2;
    shape.echoLength = 4;
    return RawExchange(slave, request, static_cast<int>(7 + 2 * count), 16, reply, sizeof reply, &length,
                       shape);
}

int ModbusLink::StaysQuiet(long long us) {
    if (!ctx_)
        return 0;
    if (transport_->tcp)
        return 1;
    if (!FrameCaptureOn())
        return SerialStaysQuiet(modbus_get_socket(ctx_), us);
    std::vector<uint8_t> thrown;
    const int quiet = SerialStaysQuiet(modbus_get_socket(ctx_), us, &thrown);
    if (!thrown.empty())
        Capture(FrameDirection::Discarded, thrown.data(), thrown.size(), -1, nullptr);
    return quiet;
}

int ModbusLink::ScanSlaves(SlaveFoundHandler onSlaveFound, void* userData, unsigned lastSlave,
                           SlaveProbeHandler onProbe) {
    for (unsigned slave = 1; slave <= lastSlave; ++slave) {
        if (onProbe && !onProbe(slave, lastSlave, userData))
            return 0;
        uint16_t item = 0;
        unsigned count = 1;
        if (ReadItems(slave, 0, 3, &count, &item, 1)) {
            if (onSlaveFound && !onSlaveFound(slave, userData))
                return 0;
        }
        std::this_thread::sleep_for(kScanPause);
    }
    return 1;
}

} // namespace mistvale
