#include "modbus/line_key.h"

#include "modbus/connection_path.h"
#include "modbus/serial_port_lookup.h"
#include "model/group.h"

namespace mistvale {

namespace {

constexpr auto kPortListAge = std::chrono::seconds(1);

std::u16string U16(const WideString& text) {
    return std::u16string(text.Text(), static_cast<std::size_t>(text.Length()));
}

} // namespace

std::string LineKeys::OfSerialPort(const WideString& displayName) {
    const std::u16string name = U16(displayName);
    const auto now = std::chrono::steady_clock::now();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = ports_.find(name);
        if (found != ports_.end() && now - found->second.at < kPortListAge)
            return found->second.key;
    }
    std::string device;
    // A port that is not there is a line of its own: its groups fail fast and hold up nobody.
    std::string key =
        LookUpSerialDevice(displayName, &device) ? "serial:" + device : "serial?" + displayName.ToUtf8();
    std::lock_guard<std::mutex> lock(mutex_);
    ports_[name] = Known{key, now};
    return key;
}

std::string LineKeys::OfGroup(const Group& group) {
    const ConnectionPath path = ParseConnectionPath(group.Parameter());
    switch (path.kind) {
    case ConnectionKind::Serial:
        return OfSerialPort(path.port);
    case ConnectionKind::Tcp:
        return "tcp:" + path.server.ToUtf8() + "|" + path.tcpPort.ToUtf8();
    default:
        return "clock";
    }
}

} // namespace mistvale
