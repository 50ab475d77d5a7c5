#include "modbus/serial_port_list.h"

#include <cstdlib>
#include <string>

int SerialPortList::Rebuild() {
    Clear();
    // MISTVALE_SERIAL_PORTS_ONLY=1 lists nothing but the paths of MISTVALE_SERIAL_PORTS, so that a
    // search in a test or a demonstration never opens a real port of the machine.
    const char* only = std::getenv("MISTVALE_SERIAL_PORTS_ONLY");
    if (only == nullptr || only[0] == '\0' || std::string(only) == "0") {
        AppendSystemPorts();
    }
    AppendListedPaths(std::getenv("MISTVALE_SERIAL_PORTS"));
    return 1;
}

int SerialPortList::ForEachPort(SerialPortVisitor visitor, void* context) {
    Rebuild();
    for (const Entry& entry : entries_) {
        if (visitor(entry.displayName, entry.devicePath, context) == 0) {
            break;
        }
    }
    return 1;
}

void SerialPortList::Append(const WideString& displayName, const WideString& devicePath) {
    entries_.push_back(Entry{displayName, devicePath});
}

bool SerialPortList::HasDevicePath(const WideString& devicePath) const {
    for (const Entry& entry : entries_) {
        if (entry.devicePath == devicePath) {
            return true;
        }
    }
    return false;
}

void SerialPortList::AppendListedPaths(const char* pathList) {
    if (pathList == nullptr) {
        return;
    }
    std::string list = pathList;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(':', start);
        if (end == std::string::npos) {
            end = list.size();
        }
        std::string path = list.substr(start, end - start);
        start = end + 1;
        // The name is the last non-empty component, so "/dev/ttyS9/" is still "ttyS9".
        size_t nameEnd = path.find_last_not_of('/');
        if (nameEnd == std::string::npos) {
            continue; // empty entry or "/" alone
        }
        size_t nameStart = path.find_last_of('/', nameEnd);
        nameStart = nameStart == std::string::npos ? 0 : nameStart + 1;
        std::string name = path.substr(nameStart, nameEnd - nameStart + 1);
        WideString devicePath = WideString::FromUtf8(path.c_str());
        WideString displayName = WideString::FromUtf8(name.c_str());
        // A path that is not valid UTF-8 could not be handed back to the serial layer unchanged.
        if (devicePath.Length() == 0 || displayName.Length() == 0 || HasDevicePath(devicePath)) {
            continue;
        }
        Append(displayName, devicePath);
    }
}
