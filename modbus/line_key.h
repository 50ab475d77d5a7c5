#pragma once

#include "platform/wide_string.h"

#include <chrono>
#include <map>
#include <mutex>
#include <string>

namespace mistvale {

class Group;

// Names the line a group's device is reached over: "serial:" and the port's device path (two names of
// one port are one line), "tcp:" with host and port, "clock" for clock groups and groups that name no
// device. Serial ports are looked up in the system's list at most once a second per name.
class LineKeys {
public:
    std::string OfGroup(const Group& group);
    std::string OfSerialPort(const WideString& displayName);

private:
    struct Known {
        std::string key;
        std::chrono::steady_clock::time_point at;
    };
    std::mutex mutex_;
    std::map<std::u16string, Known> ports_;
};

} // namespace mistvale
