#include "modbus/device_search.h"

#include "modbus/found_device.h"
#include "modbus/modbus_link.h"
#include "modbus/serial_port_lookup.h"
#include "model/locked_list.h"

namespace mistvale {

namespace {

struct SearchRun {
    ModbusLink* link;
    const SearchTarget* target;
    const PortRunner* runner;
    unsigned lastSlave;
    WideString port;
    int found;
    bool stopped;
};

int OnProbe(unsigned slave, unsigned lastSlave, void* userData) {
    SearchRun* run = static_cast<SearchRun*>(userData);
    const SearchTarget* target = run->target;
    if (target->progress && !target->progress(target->settingsContext, run->port, slave, lastSlave)) {
        run->stopped = true;
        return 0;
    }
    return 1;
}

int OnSlaveFound(unsigned slave, void* userData) {
    SearchRun* run = static_cast<SearchRun*>(userData);
    FoundDevice* device = new FoundDevice(run->port, slave);
    // Filled before it is listed, so that the list never holds a record still being written.
    if (run->link->ReadIdentification(slave, 1, device->identification)) {
        // The regular objects add to the basic ones where the device has them; without them the
        // basic objects stand alone.
        static_cast<void>(run->link->ReadIdentification(slave, 2, device->identification));
    }
    if (run->target->results)
        run->target->results->Append(device);
    else
        delete device;
    ++run->found;
    return 1;
}

int OnPort(const WideString& displayName, void* context) {
    SearchRun* run = static_cast<SearchRun*>(context);
    unsigned baud = 38400;
    char16_t parity = u'N';
    if (run->target->settings) {
        unsigned b = 0;
        char16_t p = 0;
        if (run->target->settings(run->target->settingsContext, &b, &p)) {
            baud = b;
            parity = p;
        }
    }
    run->port = displayName;
    auto probe = [&] {
        // A port that cannot be opened is passed over: nothing there can answer.
        if (run->link->Connect(displayName, baud, parity, 0, std::string(), std::string()))
            run->link->ScanSlaves(OnSlaveFound, run, run->lastSlave, OnProbe);
        run->link->Disconnect();
    };
    if (*run->runner) {
        if (!(*run->runner)(displayName, probe))
            run->stopped = true;
    } else {
        probe();
    }
    return run->stopped ? 0 : 1;
}

} // namespace

int RunDeviceSearch(ModbusLink& link, const SearchTarget& target, unsigned lastSlave,
                    const PortRunner& runner) {
    SearchRun run{&link, &target, &runner, lastSlave, WideString(), 0, false};
    ForEachSerialPortName(OnPort, &run);
    return run.found;
}

} // namespace mistvale
