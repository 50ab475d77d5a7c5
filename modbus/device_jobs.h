#pragma once

#include "modbus/device_search.h"
#include "modbus/modbus_link.h"

#include <mutex>

namespace mistvale {

class MonitorTree;

// What the Modbus jobs of the refresh worker need besides the model: the link of the device search
// and the search's target (the Search dialog's result list and settings handler). Lives as long as
// the MonitorTree it is installed in.
class DeviceJobsContext {
public:
    // The Search dialog sets its target before it queues a search and clears it before its list and
    // settings go away. ClearSearchTarget waits for a search that is still running, so they stay
    // valid for the whole job; a search started later finds no target and does nothing.
    void SetSearchTarget(const SearchTarget& target);
    void ClearSearchTarget();

    // Last slave address a search probes (247; tests use fewer).
    void SetSearchLastSlave(unsigned lastSlave);

    // Worker side.
    void RunSearch();

private:
    std::mutex runMutex_;    // held by the worker for a whole search
    std::mutex targetMutex_; // guards target_ and last_slave_
    SearchTarget target_;
    unsigned lastSlave_ = 247;
    ModbusLink searchLink_; // worker only
};

// Installs the Modbus source reader (Clock groups included) and the handler of the jobs
// SearchDevices, AddAllRegisters and SetValue into the tree. Call before the tree starts.
void InstallDeviceJobs(MonitorTree& tree, DeviceJobsContext* context);

} // namespace mistvale
