#include "modbus/line_key.h"

#include "modbus/connection_path.h"
#include "modbus/serial_port_lookup.h"
#include "model/group.h"

namespace mistvale {

namespace {

constexpr auto kPortListAge = std::chrono::seconds(1);
constexpr std::size_t kMostGroupsKept = 4096;

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
    ports_[name] = Known{key, now, 0};
    return key;
}

std::string LineKeys::OfGroup(const Group& group) {
    // The version changes with every edit of a path and is new to every record, so an entry left by a
    // deleted group never answers for another one at its address.
    const std::uint64_t version = group.ParameterVersion();
    const auto now = std::chrono::steady_clock::now();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = groups_.find(&group);
        if (found != groups_.end() && found->second.version == version &&
            now - found->second.at < kPortListAge)
            return found->second.key;
    }
    std::string key = KeyOfGroup(group);
    std::lock_guard<std::mutex> lock(mutex_);
    if (groups_.size() >= kMostGroupsKept)
        groups_.clear(); // entries of deleted groups go now and then
    groups_[&group] = Known{key, now, version};
    return key;
}

std::string LineKeys::KeyOfGroup(const Group& group) {
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
