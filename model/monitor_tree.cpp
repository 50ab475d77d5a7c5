#include "model/monitor_tree.h"

#include "model/clock_reader.h"
#include "model/config_file.h"
#include "platform/string_table.h"

#include "model/file_replace.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <vector>

namespace mistvale {

namespace {

// The device search's own thread; no group is ever on it.
constexpr char kSearchLine[] = "\x01search";

} // namespace

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

void MonitorTree::SetGroupReadHandler(GroupReadHandler handler, void* context) {
    std::lock_guard<std::mutex> guard(handlerMutex_);
    groupReader_ = handler;
    groupReaderContext_ = context;
}

void MonitorTree::SetLineKeyHandler(LineKeyHandler handler, void* context) {
    std::lock_guard<std::mutex> guard(handlerMutex_);
    lineKey_ = handler;
    lineKeyContext_ = context;
}

std::string MonitorTree::LineOf(const Group& group) const {
    LineKeyHandler handler = nullptr;
    void* context = nullptr;
    {
        std::lock_guard<std::mutex> guard(handlerMutex_);
        handler = lineKey_;
        context = lineKeyContext_;
    }
    return handler != nullptr ? handler(context, group) : std::string();
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
    const std::string path = ConfigPath();
    // A save killed part-way (power cut, SIGKILL) leaves its temporary file; ours are older than us.
    RemoveLeftoverTemporaries(path, std::time(nullptr));
    configUnreadable_ = LoadConfigFile(path, groups_) == kConfigUnreadable;
    if (configUnreadable_) {
        // Kept aside now, before anything could replace it; when even that fails the file is never
        // overwritten with what little this run knows.
        maySave_ = KeepUnreadableConfig(path, &keptAs_) != 0;
        if (!maySave_)
            keptAs_.clear();
    }
    savedChanges_ = changes_.load();
    loaded_.store(true);
    return 1;
}

int MonitorTree::SaveIfChanged() {
    std::lock_guard<std::mutex> guard(saveMutex_);
    if (!loaded_.load() || !maySave_)
        return 1;
    const std::uint64_t changes = changes_.load();
    if (changes == savedChanges_)
        return 1;
    if (!SaveConfigFile(ConfigPath(), groups_))
        return 0;
    savedChanges_ = changes;
    return 1;
}

void MonitorTree::Stop(PumpHandler pump, void* pumpContext) {
    // Rebuilds triggered while the worker is being stopped leave the tree-list alone from here on.
    if (loaded_.exchange(false)) {
        std::lock_guard<std::mutex> guard(saveMutex_);
        const std::string path = ConfigPath();
        if (maySave_ && !SaveConfigFile(path, groups_)) {
            const int error = errno;
            // No window is left to tell; the terminal or the session log is.
            std::fprintf(stderr,
                         "Mistvale: the tree could not be saved to %s (%s); the file is left as it was.\n",
                         path.c_str(), std::strerror(error));
        } else if (!maySave_) {
            std::fprintf(stderr, "Mistvale: %s could not be read nor kept aside; it is left as it was.\n",
                         path.c_str());
        }
    }
    // Lines end their passes at the next request; a removal waiting for one of them gives up.
    lines_.RequestStop();
    jobs_.Stop(pump, pumpContext);
    lines_.Stop(pump, pumpContext);
    // Work that finishes a pass's values elsewhere still holds its groups for a moment.
    pins_.WaitUntilNoPins([&] {
        if (pump != nullptr)
            pump(pumpContext);
    });
    ++removals_;
    groups_.DeleteAll();
}

int MonitorTree::AddGroup(Group* group) {
    if (group == nullptr)
        return 0;
    groups_.Append(group);
    ++changes_;
    return 1;
}

int MonitorTree::AddSource(Group* group, Source* source) {
    if (group == nullptr || source == nullptr)
        return 0;
    source->SetGroup(group);
    group->Sources().Append(source);
    ++changes_;
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

bool MonitorTree::WaitUntilUnpinned(const Group* group) {
    // A line working on the group ends that work within one request; at a shutdown nobody waits.
    if (pins_.Close(group, [this] { return lines_.Stopping(); }))
        return true;
    pins_.Open(group);
    return false;
}

int MonitorTree::RemoveGroup(Group* group) {
    if (!HasGroup(group))
        return 0;
    if (!WaitUntilUnpinned(group))
        return 0;
    ++removals_;
    const int unlinked = groups_.Unlink(group);
    if (unlinked) {
        delete group;
        ++changes_;
    }
    pins_.Open(group);
    if (!unlinked)
        return 0;
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
    if (!WaitUntilUnpinned(owner))
        return 0;
    ++removals_;
    const int unlinked = owner->Sources().Unlink(source);
    if (unlinked) {
        delete source;
        ++changes_;
    }
    pins_.Open(owner);
    if (!unlinked)
        return 0;
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

void MonitorTree::SetPassOutcomeHandler(PassOutcomeHandler handler, void* context) {
    std::lock_guard<std::mutex> guard(handlerMutex_);
    passOutcome_ = handler;
    passOutcomeContext_ = context;
}

void MonitorTree::NoteOutcome(OutcomeHandler handler, void* context, Group& group, Source& source) {
    if (handler != nullptr)
        handler(context, group, source);
}

void MonitorTree::RefreshAll() {
    // Every line starts its own pass; a line still busy with the last one gets at most one more.
    std::vector<std::string> lines;
    {
        SharedLock lock(groups_);
        for (ListItem* item = groups_.First(); item != nullptr; item = item->Next()) {
            std::string line = LineOf(*static_cast<Group*>(item));
            if (std::find(lines.begin(), lines.end(), line) == lines.end())
                lines.push_back(std::move(line));
        }
    }
    if (lines.empty())
        Post(WM_MODEL_CHANGED);
    for (const std::string& line : lines)
        lines_.SubmitPass(line, [this, line] { RunPass(line); });
}

void MonitorTree::ReadGroupSourceBySource(Group& group) {
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
    // The list is walked one step at a time under its shared lock, not held across a read: a silent
    // device must not keep the user-interface thread from adding a source. The pinned group's sources
    // are not removed meanwhile, so the current one stays valid between the steps.
    LockedList& sources = group.Sources();
    ListItem* sourceItem = nullptr;
    {
        SharedLock lock(sources);
        sourceItem = sources.First();
    }
    // A connection that cannot be opened costs its time-out once a pass, not once a source.
    bool reachable = true;
    std::string unreachableReason;
    while (sourceItem != nullptr) {
        if (lines_.Stopping())
            return; // shutting down: the values of this pass would never be shown
        Source* source = static_cast<Source*>(sourceItem);
        if (!reachable) {
            source->SetFailedValue(WideString(Text(kStrCantGetValue)), unreachableReason);
        } else if (reader != nullptr) {
            reachable = reader(readerContext, group, *source) != 0;
            if (!reachable)
                unreachableReason = source->Outcome().reason;
        } else {
            ReadClockSource(group, *source);
        }
        NoteOutcome(outcome, outcomeContext, group, *source);
        SharedLock lock(sources);
        sourceItem = sourceItem->Next();
    }
}

void MonitorTree::RunPass(const std::string& line) {
    GroupReadHandler groupReader = nullptr;
    void* groupReaderContext = nullptr;
    OutcomeHandler outcome = nullptr;
    void* outcomeContext = nullptr;
    PassOutcomeHandler passOutcome = nullptr;
    void* passOutcomeContext = nullptr;
    {
        std::lock_guard<std::mutex> guard(handlerMutex_);
        groupReader = groupReader_;
        groupReaderContext = groupReaderContext_;
        outcome = outcome_;
        outcomeContext = outcomeContext_;
        passOutcome = passOutcome_;
        passOutcomeContext = passOutcomeContext_;
    }
    // The line's groups as they are now, each pinned until it has been read: a removal waits for that
    // one group, and groups added meanwhile are read by the next pass.
    std::vector<Group*> groups;
    {
        SharedLock lock(groups_);
        for (ListItem* item = groups_.First(); item != nullptr; item = item->Next()) {
            Group* group = static_cast<Group*>(item);
            if (LineOf(*group) == line && pins_.TryPin(group))
                groups.push_back(group);
        }
    }
    std::vector<Source*> sources;
    for (Group* group : groups) {
        if (!lines_.Stopping()) {
            if (groupReader != nullptr) {
                sources.clear();
                {
                    SharedLock lock(group->Sources());
                    for (ListItem* item = group->Sources().First(); item != nullptr; item = item->Next())
                        sources.push_back(static_cast<Source*>(item));
                }
                groupReader(groupReaderContext, *group, sources.data(), sources.size(), lines_.StopFlag());
                if (lines_.Stopping()) {
                    // shutting down: the values of this pass are not handed on
                } else if (passOutcome != nullptr) {
                    passOutcome(passOutcomeContext, *group, sources.data(), sources.size());
                } else {
                    for (Source* source : sources)
                        NoteOutcome(outcome, outcomeContext, *group, *source);
                }
            } else {
                ReadGroupSourceBySource(*group);
            }
        }
        pins_.Unpin(group);
    }
    Post(WM_MODEL_CHANGED);
}

int MonitorTree::RunOnLine(const std::string& line, const std::function<void()>& work,
                           const std::string& note) {
    return lines_.Run(
        line,
        [&] {
            bool marked = false;
            if (!note.empty()) {
                SharedLock lock(groups_);
                for (ListItem* item = groups_.First(); item != nullptr; item = item->Next()) {
                    Group* group = static_cast<Group*>(item);
                    if (LineOf(*group) != line)
                        continue;
                    SharedLock sourcesLock(group->Sources());
                    for (ListItem* s = group->Sources().First(); s != nullptr; s = s->Next()) {
                        static_cast<Source*>(s)->SetNote(note);
                        marked = true;
                    }
                }
            }
            if (marked)
                Post(WM_MODEL_CHANGED);
            work();
        });
}

void MonitorTree::RunOnGroupLine(WorkerJob& job, Group* group) {
    // The job is copied into the task: the queue deletes its own once this returns.
    const JobKind kind = job.Kind();
    Source* source = job.GetSource();
    const WideString& text = job.Text();
    auto task = [this, kind, group, source, text] {
        DeviceJobHandler device = nullptr;
        void* deviceContext = nullptr;
        OutcomeHandler outcome = nullptr;
        void* outcomeContext = nullptr;
        {
            std::lock_guard<std::mutex> guard(handlerMutex_);
            device = device_;
            deviceContext = deviceContext_;
            outcome = outcome_;
            outcomeContext = outcomeContext_;
        }
        bool pinned = false;
        {
            SharedLock lock(groups_);
            pinned = groups_.Contains(group) && (source == nullptr || group->Sources().Contains(source)) &&
                     pins_.TryPin(group);
        }
        if (!pinned) {
            if (kind == JobKind::AddAllRegisters)
                Post(WM_MODEL_CHANGED);
            return; // deleted meanwhile: nothing is touched
        }
        WorkerJob copy = source != nullptr ? WorkerJob(kind, source, text) : WorkerJob(kind, group);
        if (device != nullptr && !lines_.Stopping()) {
            device(deviceContext, *this, copy);
            if (kind == JobKind::SetValue)
                NoteOutcome(outcome, outcomeContext, *group, *source);
        }
        pins_.Unpin(group);
        Post(WM_MODEL_CHANGED);
    };
    std::string line;
    bool listed = false;
    {
        SharedLock lock(groups_);
        listed = groups_.Contains(group) != 0;
        if (listed)
            line = LineOf(*group);
    }
    // A group deleted meanwhile gets no task (nor a line made for it).
    if ((!listed || !lines_.Submit(line, task)) && kind == JobKind::AddAllRegisters)
        Post(WM_MODEL_CHANGED);
}

void MonitorTree::RunDeviceJob(WorkerJob& job) {
    DeviceJobHandler device = nullptr;
    void* deviceContext = nullptr;
    {
        std::lock_guard<std::mutex> guard(handlerMutex_);
        device = device_;
        deviceContext = deviceContext_;
    }
    switch (job.Kind()) {
    case JobKind::SearchDevices: {
        // The search takes one port's line at a time; a thread of its own keeps this worker free to
        // start the passes of every other line meanwhile.
        auto search = [this, device, deviceContext] {
            WorkerJob copy(JobKind::SearchDevices);
            if (device != nullptr)
                device(deviceContext, *this, copy);
            Post(WM_SEARCH_FINISHED);
        };
        if (!lines_.Submit(std::string(kSearchLine), search))
            Post(WM_SEARCH_FINISHED);
        break;
    }
    case JobKind::AddAllRegisters:
        if (device != nullptr && HasGroup(job.GetGroup())) {
            RunOnGroupLine(job, job.GetGroup());
            break;
        }
        Post(WM_MODEL_CHANGED);
        break;
    case JobKind::SetValue: {
        Group* group = nullptr;
        {
            SharedLock lock(groups_);
            for (ListItem* item = groups_.First(); item != nullptr && group == nullptr; item = item->Next())
                if (static_cast<Group*>(item)->Sources().Contains(job.GetSource()))
                    group = static_cast<Group*>(item);
        }
        if (group == nullptr)
            break; // the source was deleted meanwhile: nothing is written, nothing is posted
        if (device != nullptr)
            RunOnGroupLine(job, group);
        else
            Post(WM_MODEL_CHANGED);
        break;
    }
    default:
        break;
    }
}

void MonitorTree::RunJob(WorkerJob& job) {
    switch (job.Kind()) {
    case JobKind::Refresh:
        RefreshAll();
        break;
    case JobKind::DeleteGroup:
        RemoveGroup(job.GetGroup());
        break;
    case JobKind::DeleteSource:
        RemoveSource(job.GetSource());
        break;
    case JobKind::SearchDevices:
    case JobKind::AddAllRegisters:
    case JobKind::SetValue:
        RunDeviceJob(job);
        break;
    }
}

} // namespace mistvale
