#pragma once
// The serial ports present on the machine, each with the name shown to the user (and stored in
// connection paths) and the device path that opens it. Built afresh at every use; nothing is cached.
//
// Order of the entries: the ports the system reports (on Linux: udev "tty" devices that have real
// hardware behind them, named "MODEL (ttyUSB0)" or by their bare kernel name), then every path of the
// environment variable MISTVALE_SERIAL_PORTS (colon-separated, e.g. socat pseudo-terminals) that is not
// listed yet, named by the last component of its path. Display names never contain "/".
// With MISTVALE_SERIAL_PORTS_ONLY set (and not "0") the system's ports are left out: tests scan only
// their own pseudo-terminals.

#include "platform/wide_string.h"

#include <vector>

// Called for each port in list order; return 0 to stop the walk.
typedef int (*SerialPortVisitor)(const WideString& displayName, const WideString& devicePath, void* context);

class SerialPortList {
public:
    // Empties the list and fills it from the system and from MISTVALE_SERIAL_PORTS. Returns 1.
    int Rebuild();
    // Rebuild, then visitor(display name, device path, context) for each entry in list order until the
    // visitor returns 0. Returns 1.
    int ForEachPort(SerialPortVisitor visitor, void* context);

    int Count() const { return static_cast<int>(entries_.size()); }
    const WideString& DisplayName(int index) const {
        return entries_[static_cast<size_t>(index)].displayName;
    }
    const WideString& DevicePath(int index) const { return entries_[static_cast<size_t>(index)].devicePath; }

    // Appends one entry at the end.
    void Append(const WideString& displayName, const WideString& devicePath);
    // Appends the ports of a MISTVALE_SERIAL_PORTS-style text: colon-separated device paths (UTF-8);
    // empty entries, paths without a name component, and paths already listed are left out.
    void AppendListedPaths(const char* pathList);
    void Clear() { entries_.clear(); }

private:
    // The ports the operating system reports, appended in its stable order (one file per system).
    void AppendSystemPorts();
    bool HasDevicePath(const WideString& devicePath) const;

    struct Entry {
        WideString displayName;
        WideString devicePath;
    };
    std::vector<Entry> entries_;
};
