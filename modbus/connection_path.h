#pragma once

#include "platform/wide_string.h"

#include <string>

namespace mistvale {

class Group;
class ModbusLink;

enum class ConnectionKind {
    None,   // an unknown kind token or an empty path
    Serial, // "ModbusSerial/baud/parity/port/slave"
    Tcp,    // "ModbusTcpIp/server/port"
    Clock,  // "Clock"
};

// Marker in the port field: the last port of the serial port list.
constexpr const char16_t* kUseLastDevice = u"***USE_LAST_DEVICE***";

// The fields of a connection path, with their defaults for tokens that are missing.
struct ConnectionPath {
    ConnectionKind kind = ConnectionKind::None;
    unsigned baud = 38400;
    char16_t parity = 0; // first character of the parity token; 0 when none was given
    WideString port;     // display name of a serial port, or kUseLastDevice
    unsigned slave = 1;  // hexadecimal in the path
    WideString server;   // TCP host name or address
    WideString tcpPort;  // TCP port number or service name
};

// Splits a connection path; the kind token is compared without regard to case. Always succeeds; an
// unknown kind gives ConnectionKind::None.
ConnectionPath ParseConnectionPath(const WideString& path);

// Kind of the group's connection path.
ConnectionKind ConnectionKindOf(const Group& group);

// Parses the group's connection path and connects the link. Returns 1 when the link is open, with the
// slave address for its requests (1 on TCP). The caller calls Disconnect afterwards in every case.
int OpenModbusLink(const Group& group, ModbusLink& link, unsigned* slave);
int OpenModbusLink(const WideString& connectionPath, ModbusLink& link, unsigned* slave);
// The same for a path already split.
int OpenModbusLink(const ConnectionPath& path, ModbusLink& link, unsigned* slave);

} // namespace mistvale
