#pragma once

#include "platform/wide_string.h"

#include <functional>

namespace mistvale {

class LockedList;
class ModbusLink;

// Reads the baud rate and parity for the next port of a search. Called on the worker thread, so it
// must answer from a thread-safe copy of the settings, never from widgets. Returns 1 when it filled
// both; otherwise the search uses 38400 baud and no parity.
typedef int (*SearchSettingsHandler)(void* context, unsigned* baud, char16_t* parity);

// Told, on the worker thread, which address of which port the search probes next (address 1 to
// lastAddress); returning 0 stops the search there. Must not block.
typedef int (*SearchProgressHandler)(void* context, const WideString& port, unsigned address,
                                     unsigned lastAddress);

// Where a search leaves its results and where it takes its settings from.
struct SearchTarget {
    LockedList* results = nullptr; // receives one FoundDevice per answering slave, owned by the list
    SearchSettingsHandler settings = nullptr;
    void* settingsContext = nullptr;
    SearchProgressHandler progress = nullptr; // optional; uses settingsContext
};

// Runs the probing of one port (work) where nothing else uses that port meanwhile, and waits for it;
// 0 when it could not run (the program is ending), which ends the search.
using PortRunner = std::function<int(const WideString& displayName, const std::function<void()>& work)>;

// Walks every serial port: connects the link with the current settings, scans slaves 1 to lastSlave
// with the quick time-out, appends a FoundDevice for each that answers and reads its identification
// (code 1, then code 2 when that succeeded), and disconnects. Ports that cannot be opened are
// skipped. The progress handler can stop the search at the next address; what was found so far stays
// in the results. Each port is probed through runner when one is given. Returns the number of devices
// found.
int RunDeviceSearch(ModbusLink& link, const SearchTarget& target, unsigned lastSlave = 247,
                    const PortRunner& runner = PortRunner());

} // namespace mistvale
