#pragma once

#include "platform/wide_string.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>

namespace mistvale {

class Group;

// Names the line a group's device is reached over: "serial:" and the port's device path (two names of
// one port are one line), "tcp:" with host and port, "clock" for clock groups and groups that name no
// device. Serial ports are looked up in the system's list at most once a second per name, and a group's
// path is split again only when it changed or a second has passed (every pass asks for every group).
class LineKeys {
public:
    std::string OfGroup(const Group& group);
    std::string OfSerialPort(const WideString& displayName);

private:
    struct Known {
        std::string key;
        std::chrono::steady_clock::time_point at;
        std::uint64_t version = 0; // of the group's path (groups only)
    };
    std::string KeyOfGroup(const Group& group);

    std::mutex mutex_;
    std::map<std::u16string, Known> ports_;
    std::unordered_map<const Group*, Known> groups_;
};

} // namespace mistvale
