#include "modbus/connection_path.h"

#include "modbus/modbus_link.h"
#include "modbus/value_format.h"
#include "model/group.h"

namespace mistvale {

ConnectionPath ParseConnectionPath(const WideString& path) {
    ConnectionPath out;
    WideString rest(path);
    WideString token;
    if (!rest.NextToken(token, u"/"))
        return out;
    if (token.CompareNoCase(u"ModbusSerial") == 0) {
        out.kind = ConnectionKind::Serial;
        if (!rest.NextToken(token, u"/"))
            return out;
        uint32_t baud = 0;
        if (ParseTypedUnsigned(token.ToU16String(), &baud))
            out.baud = baud;
        if (!rest.NextToken(token, u"/"))
            return out;
        out.parity = token.At(0);
        if (!rest.NextToken(token, u"/"))
            return out;
        out.port = token;
        if (!rest.NextToken(token, u"/"))
            return out;
        uint32_t slave = 0;
        if (ParseTypedHex(token.ToU16String(), &slave))
            out.slave = slave;
    } else if (token.CompareNoCase(u"ModbusTcpIp") == 0) {
        out.kind = ConnectionKind::Tcp;
        if (!rest.NextToken(token, u"/"))
            return out;
        out.server = token;
        if (!rest.NextToken(token, u"/"))
            return out;
        out.tcpPort = token;
    } else if (token.CompareNoCase(u"Clock") == 0) {
        out.kind = ConnectionKind::Clock;
    }
    return out;
}

ConnectionKind ConnectionKindOf(const Group& group) {
    return ParseConnectionPath(group.Parameter()).kind;
}

int OpenModbusLink(const WideString& connectionPath, ModbusLink& link, unsigned* slave) {
    return OpenModbusLink(ParseConnectionPath(connectionPath), link, slave);
}

int OpenModbusLink(const ConnectionPath& path, ModbusLink& link, unsigned* slave) {
    if (path.kind != ConnectionKind::Serial && path.kind != ConnectionKind::Tcp) {
        link.Disconnect();
        return 0;
    }
    std::string server;
    std::string tcpPort;
    if (path.kind == ConnectionKind::Tcp) {
        // Both are handed to the resolver in the program's 8-bit code page; a text that does not
        // convert cannot name a host.
        const char* s = path.server.ToAnsi();
        server = s ? s : "";
        const char* p = path.tcpPort.ToAnsi();
        tcpPort = p ? p : "";
        if (server.empty() || tcpPort.empty()) {
            link.Disconnect();
            return 0;
        }
    }
    int ok = link.Connect(path.port, path.baud, path.parity, 0, server, tcpPort);
    if (slave)
        *slave = path.kind == ConnectionKind::Tcp ? 1 : path.slave;
    return ok;
}

int OpenModbusLink(const Group& group, ModbusLink& link, unsigned* slave) {
    return OpenModbusLink(group.Parameter(), link, slave);
}

} // namespace mistvale
