#include "modbus/device_jobs.h"

#include "modbus/read_group_values.h"
#include "modbus/read_source_value.h"
#include "modbus/register_map_job.h"
#include "modbus/write_source_value.h"
#include "model/monitor_tree.h"

namespace mistvale {

void DeviceJobsContext::SetSearchTarget(const SearchTarget& target) {
    // No wait for a running search: it keeps the target it started with, and it never touches a
    // record after listing it, so emptying that list meanwhile is safe.
    std::lock_guard<std::mutex> lock(targetMutex_);
    target_ = target;
}

void DeviceJobsContext::ClearSearchTarget() {
    std::lock_guard<std::mutex> run(runMutex_);
    std::lock_guard<std::mutex> lock(targetMutex_);
    target_ = SearchTarget();
}

void DeviceJobsContext::NoteImport(const ImportOutcome& outcome) {
    std::lock_guard<std::mutex> lock(importMutex_);
    import_ = outcome;
    importNew_ = true;
}

bool DeviceJobsContext::TakeImport(ImportOutcome* outcome) {
    std::lock_guard<std::mutex> lock(importMutex_);
    if (!importNew_)
        return false;
    importNew_ = false;
    *outcome = import_;
    return true;
}

void DeviceJobsContext::SetSearchLastSlave(unsigned lastSlave) {
    std::lock_guard<std::mutex> lock(targetMutex_);
    lastSlave_ = lastSlave;
}

void DeviceJobsContext::RunSearch(MonitorTree& tree) {
    std::lock_guard<std::mutex> run(runMutex_);
    SearchTarget target;
    unsigned lastSlave;
    {
        std::lock_guard<std::mutex> lock(targetMutex_);
        target = target_;
        lastSlave = lastSlave_;
    }
    if (!target.results)
        return; // nobody is waiting for results
    PortRunner runner = [&](const WideString& port, const std::function<void()>& work) {
        const std::string note = "Paused: the device search is probing " + port.ToUtf8();
        return tree.RunOnLine(lineKeys_.OfSerialPort(port), work, note);
    };
    RunDeviceSearch(searchLink_, target, lastSlave, runner);
}

namespace {

int ReadModbusSource(void*, Group& group, Source& source) {
    return ReadSourceValue(group, source);
}

void ReadModbusGroup(void*, Group& group, Source* const* sources, std::size_t count,
                     const std::atomic<bool>& stop) {
    ReadGroupValues(group, sources, count, stop);
}

std::string LineOfGroup(void* context, const Group& group) {
    return static_cast<DeviceJobsContext*>(context)->Lines().OfGroup(group);
}

void RunDeviceJob(void* context, MonitorTree& tree, WorkerJob& job) {
    DeviceJobsContext* jobs = static_cast<DeviceJobsContext*>(context);
    switch (job.Kind()) {
    case JobKind::SearchDevices:
        if (jobs)
            jobs->RunSearch(tree);
        break;
    case JobKind::AddAllRegisters:
        if (job.GetGroup()) {
            DeviceJobsContext::ImportOutcome outcome;
            outcome.added = AddAllRegisters(tree, *job.GetGroup(), &outcome.why);
            outcome.group = job.GetGroup()->Name().ToUtf8();
            if (jobs)
                jobs->NoteImport(outcome);
        }
        break;
    case JobKind::SetValue:
        if (job.GetSource())
            WriteSourceValue(*job.GetSource(), job.Text());
        break;
    default:
        break;
    }
}

} // namespace

void InstallDeviceJobs(MonitorTree& tree, DeviceJobsContext* context) {
    tree.SetSourceReadHandler(ReadModbusSource, context);
    tree.SetGroupReadHandler(ReadModbusGroup, context);
    if (context != nullptr)
        tree.SetLineKeyHandler(LineOfGroup, context);
    tree.SetDeviceJobHandler(RunDeviceJob, context);
}

} // namespace mistvale
