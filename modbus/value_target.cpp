#include "modbus/value_target.h"

#include "modbus/connection_path.h"
#include "modbus/register_path.h"

namespace mistvale {

namespace {

std::string RegisterWords(const RegisterPath& reg) {
    const std::string address = std::to_string(reg.address);
    switch (reg.function) {
    case 1:
        return "coil " + address;
    case 2:
        return "discrete input " + address;
    case 3:
        return "holding register " + address;
    case 4:
        return "input register " + address;
    case 7:
        return "exception status";
    default:
        return "function " + std::to_string(reg.function) + ", address " + address;
    }
}

std::string ConnectionWords(const WideString& groupPath) {
    const ConnectionPath path = ParseConnectionPath(groupPath);
    switch (path.kind) {
    case ConnectionKind::Serial:
        return "slave " + std::to_string(path.slave) + ", " +
               (path.port.Compare(kUseLastDevice) == 0 ? std::string("the last serial port")
                                                       : path.port.ToUtf8());
    case ConnectionKind::Tcp:
        return path.server.ToUtf8() + ":" + path.tcpPort.ToUtf8();
    case ConnectionKind::Clock:
        return "the clock";
    default:
        return "no device";
    }
}

} // namespace

std::string DescribeValueTarget(const WideString& sourceName, const WideString& groupName,
                                const WideString& groupPath, const WideString& sourcePath) {
    std::string text = sourceName.ToUtf8() + " (" + groupName.ToUtf8() + ")";
    RegisterPath reg;
    if (ParseConnectionPath(groupPath).kind != ConnectionKind::Clock && ParseRegisterPath(sourcePath, &reg))
        text += " — " + RegisterWords(reg) + ", " + ConnectionWords(groupPath);
    return text;
}

} // namespace mistvale
