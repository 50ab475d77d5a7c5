#pragma once

#include "modbus/device_search.h"
#include "modbus/line_key.h"
#include "modbus/modbus_link.h"

#include <mutex>
#include <string>

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

    // The search's side: probes each port on its line, the tree's other lines refreshing meanwhile.
    void RunSearch(MonitorTree& tree);

    LineKeys& Lines() { return lineKeys_; }

    // What the last "Add all Modbus Registers" came to: the sources it added and, when none, why.
    // Taken once (the user-interface thread asks after each rebuild); false when there is nothing new.
    struct ImportOutcome {
        std::string group; // the group's name
        int added = 0;
        std::string why;
    };
    void NoteImport(const ImportOutcome& outcome);
    bool TakeImport(ImportOutcome* outcome);

private:
    std::mutex importMutex_;
    bool importNew_ = false;
    ImportOutcome import_;
    LineKeys lineKeys_;
    std::mutex runMutex_;    // held by the worker for a whole search
    std::mutex targetMutex_; // guards target_ and last_slave_
    SearchTarget target_;
    unsigned lastSlave_ = 247;
    ModbusLink searchLink_; // worker only
};

// Installs the Modbus readers (Clock groups included), the naming of lines and the handler of the jobs
// SearchDevices, AddAllRegisters and SetValue into the tree. Call before the tree starts. Without a
// context every group is on one line.
void InstallDeviceJobs(MonitorTree& tree, DeviceJobsContext* context);

} // namespace mistvale
