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

namespace mistvale {

// Called for each port in list order; return 0 to stop the walk.
typedef int (*SerialPortVisitor)(const WideString& displayName, const WideString& devicePath, void* context);

class SerialPortList {
public:
    // Empties the list and fills it from the system and from MISTVALE_SERIAL_PORTS. Returns 1.
    int Rebuild();
    // Rebuild, then visitor(display name, device path, context) for each entry in list order until the
    // visitor returns 0. Returns 1.
    int ForEachPort(SerialPortVisitor visitor, void* context);

    // The device path of the first entry whose display name is displayName (compared exactly, up to its
    // first zero unit) in the list Rebuild would make, found without listing every port where the name
    // alone settles it: a MISTVALE_SERIAL_PORTS path, or one system port probed by its kernel name.
    // Anything else falls back to Rebuild, which is the only case that fills this list.
    // Returns 1 and sets *devicePath when found, else 0.
    int FindDevicePath(const WideString& displayName, WideString* devicePath);
    // The device path of the last entry Rebuild would make, found the same way: the last path that
    // MISTVALE_SERIAL_PORTS lists for the first time and no system port opens; Rebuild when there is
    // none. 1 when found.
    int FindLastDevicePath(WideString* devicePath);

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
    struct Entry {
        WideString displayName;
        WideString devicePath;
    };

    // The ports the operating system reports, appended in its stable order (one file per system).
    void AppendSystemPorts();
    // Quick questions to the system about one port, answered without listing them all (same file as
    // AppendSystemPorts): 1 yes, 0 no, -1 when only the full listing can tell.
    // Is there a port named displayName? Sets *devicePath when there is exactly one.
    static int FindSystemPort(const WideString& displayName, WideString* devicePath);
    // Does a listed system port open through exactly devicePath (so that the same path in
    // MISTVALE_SERIAL_PORTS is left out)?
    static int IsSystemDevicePath(const WideString& devicePath);

    // False when MISTVALE_SERIAL_PORTS_ONLY leaves the system's ports out.
    static bool SystemPortsWanted();
    // The entries a MISTVALE_SERIAL_PORTS-style text names, in order, before duplicates are removed.
    static std::vector<Entry> ParseListedPaths(const char* pathList);
    int FindInFullList(const WideString& displayName, WideString* devicePath);
    bool HasDevicePath(const WideString& devicePath) const;

    std::vector<Entry> entries_;
};

} // namespace mistvale
