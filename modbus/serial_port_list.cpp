#include "modbus/serial_port_list.h"

#include <cstdlib>
#include <string>

namespace mistvale {

bool SerialPortList::SystemPortsWanted() {
    // MISTVALE_SERIAL_PORTS_ONLY=1 lists nothing but the paths of MISTVALE_SERIAL_PORTS, so that a
    // search in a test or a demonstration never opens a real port of the machine.
    const char* only = std::getenv("MISTVALE_SERIAL_PORTS_ONLY");
    return only == nullptr || only[0] == '\0' || std::string(only) == "0";
}

int SerialPortList::Rebuild() {
    Clear();
    if (SystemPortsWanted())
        AppendSystemPorts();
    AppendListedPaths(std::getenv("MISTVALE_SERIAL_PORTS"));
    return 1;
}

int SerialPortList::ForEachPort(SerialPortVisitor visitor, void* context) {
    Rebuild();
    for (const Entry& entry : entries_)
        if (visitor(entry.displayName, entry.devicePath, context) == 0)
            break;
    return 1;
}

int SerialPortList::FindInFullList(const WideString& displayName, WideString* devicePath) {
    Rebuild();
    for (const Entry& entry : entries_) {
        if (entry.displayName.Compare(displayName.Text()) == 0) {
            *devicePath = entry.devicePath;
            return 1;
        }
    }
    return 0;
}

// Every serial open asks for one name, and listing all of the system's ports costs far more than the
// read that follows. The list order still decides: system ports come first, and a listed path that a
// system port already opens is left out. Whenever the system cannot answer for the one name or path,
// the full list is built and walked instead, so the answer is always the one a walk would give.
int SerialPortList::FindDevicePath(const WideString& displayName, WideString* devicePath) {
    // A walk compares zero-terminated texts, so a name is only what precedes its first zero unit.
    WideString wanted(displayName.Text());
    bool system = SystemPortsWanted();
    if (system) {
        int found = FindSystemPort(wanted, devicePath);
        if (found == 1)
            return 1;
        if (found < 0)
            return FindInFullList(wanted, devicePath);
    }
    // No system port has this name. A listed path's name comes from the path itself, so an earlier
    // duplicate of a path would have had the same name and been met first.
    for (const Entry& entry : ParseListedPaths(std::getenv("MISTVALE_SERIAL_PORTS"))) {
        if (entry.displayName.Compare(wanted.Text()) != 0)
            continue;
        int taken = system ? IsSystemDevicePath(entry.devicePath) : 0;
        if (taken < 0)
            return FindInFullList(wanted, devicePath);
        if (taken == 0) {
            *devicePath = entry.devicePath;
            return 1;
        }
    }
    return 0;
}

int SerialPortList::FindLastDevicePath(WideString* devicePath) {
    bool system = SystemPortsWanted();
    std::vector<Entry> listed = ParseListedPaths(std::getenv("MISTVALE_SERIAL_PORTS"));
    for (auto entry = listed.rbegin(); entry != listed.rend(); ++entry) {
        // A repeated path stays where it was first listed.
        bool repeated = false;
        for (auto earlier = entry + 1; earlier != listed.rend() && !repeated; ++earlier)
            repeated = earlier->devicePath == entry->devicePath;
        if (repeated)
            continue;
        int taken = system ? IsSystemDevicePath(entry->devicePath) : 0;
        if (taken < 0)
            break;
        if (taken == 0) {
            *devicePath = entry->devicePath;
            return 1;
        }
    }
    if (!system)
        return 0;
    // Every listed path is a system port's (or there are none): the last system port is the answer.
    Rebuild();
    if (entries_.empty())
        return 0;
    *devicePath = entries_.back().devicePath;
    return 1;
}

void SerialPortList::Append(const WideString& displayName, const WideString& devicePath) {
    entries_.push_back(Entry{displayName, devicePath});
}

bool SerialPortList::HasDevicePath(const WideString& devicePath) const {
    for (const Entry& entry : entries_)
        if (entry.devicePath == devicePath)
            return true;
    return false;
}

std::vector<SerialPortList::Entry> SerialPortList::ParseListedPaths(const char* pathList) {
    std::vector<Entry> out;
    if (pathList == nullptr)
        return out;
    std::string list = pathList;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(':', start);
        if (end == std::string::npos)
            end = list.size();
        std::string path = list.substr(start, end - start);
        start = end + 1;
        // The name is the last non-empty component, so "/dev/ttyS9/" is still "ttyS9".
        size_t nameEnd = path.find_last_not_of('/');
        if (nameEnd == std::string::npos)
            continue; // empty entry or "/" alone
        size_t nameStart = path.find_last_of('/', nameEnd);
        nameStart = nameStart == std::string::npos ? 0 : nameStart + 1;
        std::string name = path.substr(nameStart, nameEnd - nameStart + 1);
        WideString devicePath = WideString::FromUtf8(path.c_str());
        WideString displayName = WideString::FromUtf8(name.c_str());
        // A path that is not valid UTF-8 could not be handed back to the serial layer unchanged.
        if (devicePath.Length() == 0 || displayName.Length() == 0)
            continue;
        out.push_back(Entry{displayName, devicePath});
    }
    return out;
}

void SerialPortList::AppendListedPaths(const char* pathList) {
    for (const Entry& entry : ParseListedPaths(pathList))
        if (!HasDevicePath(entry.devicePath))
            Append(entry.displayName, entry.devicePath);
}

} // namespace mistvale
