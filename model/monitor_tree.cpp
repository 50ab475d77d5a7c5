#include "model/monitor_tree.h"

#include "model/clock_reader.h"
#include "model/config_file.h"
#include "platform/string_table.h"

#include "model/file_replace.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

namespace mistvale {

MonitorTree::MonitorTree() = default;

MonitorTree::~MonitorTree() {
    Stop();
    groups_.DeleteAll();
}

void MonitorTree::SetNotifyHandler(NotifyHandler handler, void* context) {
    std::lock_guard<std::mutex> guard(handlerMutex_);
    notify_ = handler;
    notifyContext_ = context;
}

void MonitorTree::SetSourceReadHandler(SourceReadHandler handler, void* context) {
    std::lock_guard<std::mutex> guard(handlerMutex_);
    reader_ = handler;
    readerContext_ = context;
}

void MonitorTree::SetDeviceJobHandler(DeviceJobHandler handler, void* context) {
    std::lock_guard<std::mutex> guard(handlerMutex_);
    device_ = handler;
    deviceContext_ = context;
}

std::string MonitorTree::ConfigPath() const {
    return configPath_.empty() ? DefaultConfigPath() : configPath_;
}

int MonitorTree::Start(const std::string& configPath) {
    if (started_)
        return 0;
    configPath_ = configPath;
    if (!jobs_.Start(&MonitorTree::HandleJob, this))
        return 0; // not loaded: the tree stays empty and nothing is saved at the end
    started_ = true;
    // A save killed part-way (power cut, SIGKILL) leaves its temporary file; ours are older than us.
    RemoveLeftoverTemporaries(ConfigPath(), std::time(nullptr));
    configUnreadable_ = LoadConfigFile(ConfigPath(), groups_) == kConfigUnreadable;
    loaded_.store(true);
    return 1;
}

void MonitorTree::Stop(PumpHandler pump, void* pumpContext) {
    // Rebuilds triggered while the worker is being stopped leave the tree-list alone from here on.
    if (loaded_.exchange(false)) {
        std::string path = ConfigPath();
        int maySave = 1;
        if (configUnreadable_) {
            // The file we could not read is kept beside before it is replaced; when even that fails
            // it is left alone rather than overwritten with what little this run knew.
            maySave = KeepUnreadableConfig(path);
            if (maySave)
                configUnreadable_ = false;
        }
        if (maySave && !SaveConfigFile(path, groups_)) {
            const int error = errno;
            // No window is left to tell; the terminal or the session log is.
            std::fprintf(stderr,
                         "Mistvale: the tree could not be saved to %s (%s); the file is left as it was.\n",
                         path.c_str(), std::strerror(error));
        } else if (!maySave) {
            std::fprintf(stderr, "Mistvale: %s could not be read nor kept aside; it is left as it was.\n",
                         path.c_str());
        }
    }
    jobs_.Stop(pump, pumpContext);
    ++removals_;
    groups_.DeleteAll();
}

int MonitorTree::AddGroup(Group* group) {
    if (group == nullptr)
        return 0;
    groups_.Append(group);
    return 1;
}

int MonitorTree::AddSource(Group* group, Source* source) {
    if (group == nullptr || source == nullptr)
        return 0;
    source->SetGroup(group);
    group->Sources().Append(source);
    return 1;
}

void MonitorTree::Rebuild(const TreeSink& sink) {
    if (!loaded_.load())
        return;
    FillTreeRows(groups_, sink);
}

int MonitorTree::QueueJob(WorkerJob* job) {
    if (job == nullptr)
        return 0;
    if (!jobs_.Queue(job)) {
        delete job;
        return 0;
    }
    return 1;
}

int MonitorTree::QueueRefresh() {
    WorkerJob* job = new (std::nothrow) WorkerJob(JobKind::Refresh);
    if (job == nullptr)
        return 0;
    // A refresh that waits and has not started yet reads fresh values anyway: no second one is
    // queued behind it (the job is then deleted and the result is still 1).
    if (!jobs_.QueueUnlessWaiting(job)) {
        delete job;
        return 0;
    }
    return 1;
}

int MonitorTree::QueueDeleteGroup(Group* group) {
    if (group == nullptr)
        return 0;
    return QueueJob(new (std::nothrow) WorkerJob(JobKind::DeleteGroup, group));
}

int MonitorTree::QueueDeleteSource(Source* source) {
    if (source == nullptr)
        return 0;
    return QueueJob(new (std::nothrow) WorkerJob(JobKind::DeleteSource, nullptr, source));
}

int MonitorTree::QueueAddAllRegisters(Group* group) {
    if (group == nullptr)
        return 0;
    return QueueJob(new (std::nothrow) WorkerJob(JobKind::AddAllRegisters, group));
}

int MonitorTree::QueueSearch() {
    return QueueJob(new (std::nothrow) WorkerJob(JobKind::SearchDevices));
}

int MonitorTree::QueueSetValue(Source* source, const WideString& text) {
    if (source == nullptr)
        return 0;
    return QueueJob(new (std::nothrow) WorkerJob(JobKind::SetValue, source, text));
}

int MonitorTree::HasGroup(const Group* group) const {
    return groups_.Contains(group);
}

int MonitorTree::GroupOf(const Source* source) const {
    if (source == nullptr)
        return 0;
    SharedLock lock(groups_);
    for (ListItem* item = groups_.First(); item != nullptr; item = item->Next())
        if (static_cast<Group*>(item)->Sources().Contains(source))
            return 1;
    return 0;
}

int MonitorTree::RemoveGroup(Group* group) {
    if (!HasGroup(group))
        return 0;
    ++removals_;
    if (!groups_.Unlink(group))
        return 0;
    delete group;
    Post(WM_MODEL_CHANGED);
    return 1;
}

int MonitorTree::RemoveSource(Source* source) {
    if (source == nullptr)
        return 0;
    Group* owner = nullptr;
    {
        SharedLock lock(groups_);
        for (ListItem* item = groups_.First(); item != nullptr && owner == nullptr; item = item->Next()) {
            Group* group = static_cast<Group*>(item);
            if (group->Sources().Contains(source))
                owner = group;
        }
    }
    // Records leave the model only on this thread, so the owner is still listed here.
    if (owner == nullptr)
        return 0;
    ++removals_;
    if (!owner->Sources().Unlink(source))
        return 0;
    delete source;
    Post(WM_MODEL_CHANGED);
    return 1;
}

void MonitorTree::Post(int message) {
    NotifyHandler handler = nullptr;
    void* context = nullptr;
    {
        std::lock_guard<std::mutex> guard(handlerMutex_);
        handler = notify_;
        context = notifyContext_;
    }
    if (handler != nullptr)
        handler(context, message);
}

int MonitorTree::HandleJob(int code, WorkerJob* job, void* context) {
    if (code == kJobNotifyRun && job != nullptr)
        static_cast<MonitorTree*>(context)->RunJob(*job);
    return 1;
}

void MonitorTree::SetOutcomeHandler(OutcomeHandler handler, void* context) {
    std::lock_guard<std::mutex> guard(handlerMutex_);
    outcome_ = handler;
    outcomeContext_ = context;
}

void MonitorTree::NoteOutcome(OutcomeHandler handler, void* context, Group& group, Source& source) {
    if (handler != nullptr)
        handler(context, group, source);
}

void MonitorTree::RefreshAll() {
    SourceReadHandler reader = nullptr;
    void* readerContext = nullptr;
    OutcomeHandler outcome = nullptr;
    void* outcomeContext = nullptr;
    {
        std::lock_guard<std::mutex> guard(handlerMutex_);
        reader = reader_;
        readerContext = readerContext_;
        outcome = outcome_;
        outcomeContext = outcomeContext_;
    }
    // The lists are walked one step at a time under their shared locks, not held across a read:
    // a silent device must not keep the user-interface thread from adding a group or a source.
    // Records are removed only by this thread, so the current one stays valid between the steps.
    ListItem* groupItem = nullptr;
    {
        SharedLock lock(groups_);
        groupItem = groups_.First();
    }
    while (groupItem != nullptr) {
        Group* group = static_cast<Group*>(groupItem);
        LockedList& sources = group->Sources();
        ListItem* sourceItem = nullptr;
        {
            SharedLock lock(sources);
            sourceItem = sources.First();
        }
        // A connection that cannot be opened costs its time-out once a pass, not once a source.
        bool reachable = true;
        std::string unreachableReason;
        while (sourceItem != nullptr) {
            if (jobs_.StopRequested())
                return; // shutting down: the values of this pass would never be shown
            Source* source = static_cast<Source*>(sourceItem);
            if (!reachable) {
                source->SetFailedValue(WideString(Text(kStrCantGetValue)), unreachableReason);
            } else if (reader != nullptr) {
                reachable = reader(readerContext, *group, *source) != 0;
                if (!reachable)
                    unreachableReason = source->Outcome().reason;
            } else {
                ReadClockSource(*group, *source);
            }
            NoteOutcome(outcome, outcomeContext, *group, *source);
            SharedLock lock(sources);
            sourceItem = sourceItem->Next();
        }
        SharedLock lock(groups_);
        groupItem = groupItem->Next();
    }
}

void MonitorTree::RunJob(WorkerJob& job) {
    DeviceJobHandler device = nullptr;
    void* deviceContext = nullptr;
    {
        std::lock_guard<std::mutex> guard(handlerMutex_);
        device = device_;
        deviceContext = deviceContext_;
    }
    switch (job.Kind()) {
    case JobKind::Refresh:
        RefreshAll();
        Post(WM_MODEL_CHANGED);
        break;
    case JobKind::DeleteGroup:
        RemoveGroup(job.GetGroup());
        break;
    case JobKind::DeleteSource:
        RemoveSource(job.GetSource());
        break;
    case JobKind::SearchDevices:
        if (device != nullptr)
            device(deviceContext, *this, job);
        Post(WM_SEARCH_FINISHED);
        break;
    case JobKind::AddAllRegisters:
        if (device != nullptr && HasGroup(job.GetGroup()))
            device(deviceContext, *this, job);
        Post(WM_MODEL_CHANGED);
        break;
    case JobKind::SetValue:
        if (!GroupOf(job.GetSource()))
            break; // the source was deleted meanwhile: nothing is written, nothing is posted
        if (device != nullptr) {
            device(deviceContext, *this, job);
            Source* source = job.GetSource();
            Group* group = source->GetGroup();
            if (group != nullptr) {
                OutcomeHandler outcome = nullptr;
                void* outcomeContext = nullptr;
                {
                    std::lock_guard<std::mutex> guard(handlerMutex_);
                    outcome = outcome_;
                    outcomeContext = outcomeContext_;
                }
                NoteOutcome(outcome, outcomeContext, *group, *source);
            }
        }
        Post(WM_MODEL_CHANGED);
        break;
    }
}

} // namespace mistvale
