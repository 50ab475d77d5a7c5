#pragma once

#include "model/group.h"
#include "model/group_pins.h"
#include "model/job_queue.h"
#include "model/line_workers.h"
#include "model/locked_list.h"
#include "model/model_messages.h"
#include "model/source.h"
#include "model/tree_rows.h"
#include "model/worker_job.h"
#include "model/worker_thread.h"
#include "platform/wide_string.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>

namespace mistvale {

class MonitorTree;

// Receives WM_MODEL_CHANGED / WM_SEARCH_FINISHED from the worker thread; the desktop layer posts
// them as events to its windows. Must not block and must not call back into the model's locks.
typedef void (*NotifyHandler)(void* context, int message);
// Reads one source during a Refresh job (worker thread); leaves the outcome in the source's value
// text (and maybe one history sample). The Modbus layer installs one that also handles Clock groups
// by calling ReadClockSource / ReadClockValue. Returns 0 when the group's connection could not be
// opened: the group's remaining sources of that pass then get "Can't get value." without being read.
typedef int (*SourceReadHandler)(void* context, Group& group, Source& source);
typedef void (*OutcomeHandler)(void* context, Group& group, Source& source);
// Called on a line once a refresh pass has read one group, with the sources it read, in place of the
// outcome handler for each of them. The group is pinned meanwhile; MonitorTree::PinGroup keeps it so
// for work that another thread finishes later.
typedef void (*PassOutcomeHandler)(void* context, Group& group, Source* const* sources, std::size_t count);
// Reads the given sources of one group in one pass of its line (a line thread); leaves each outcome in
// its source. Looks at stop between requests and ends early once it is set. When installed it takes
// the place of the source reader for refresh passes.
typedef void (*GroupReadHandler)(void* context, Group& group, Source* const* sources, std::size_t count,
                                 const std::atomic<bool>& stop);
// Names the line a group's device is reached over (a serial port, a TCP host and port): groups of one
// line are read one after another on that line's thread, other lines side by side. Called under the
// group list's shared lock; must not block for long.
typedef std::string (*LineKeyHandler)(void* context, const Group& group);
// Runs the device jobs SearchDevices, AddAllRegisters and SetValue on the worker thread.
typedef void (*DeviceJobHandler)(void* context, MonitorTree& tree, WorkerJob& job);

// Owner of the groups, the job queue and the refresh worker.
//
// Threads: the user-interface thread calls Start, Stop, AddGroup, AddSource, Rebuild, the Queue
// operations and the record setters. The worker takes the jobs in order: it hands each line its refresh
// pass and the device jobs of its groups, and it is the only one that removes records. Each line's
// thread reads and writes the devices of that line; it pins the groups it works on, and a removal
// waits for those pins, so a deleted record is never touched. Install the handlers before Start.
class MonitorTree {
public:
    MonitorTree();
    ~MonitorTree(); // stops (without a pump) if still running and deletes every group
    MonitorTree(const MonitorTree&) = delete;
    MonitorTree& operator=(const MonitorTree&) = delete;

    void SetNotifyHandler(NotifyHandler handler, void* context);
    // nullptr restores the model's own reader (clock values only).
    void SetSourceReadHandler(SourceReadHandler handler, void* context);
    void SetGroupReadHandler(GroupReadHandler handler, void* context);
    // Without one every group is on one line, read in list order.
    void SetLineKeyHandler(LineKeyHandler handler, void* context);
    // Called on the worker after every read of a refresh and every value written, with the source's
    // new value text and outcome in place (the record of values listens here). Must not block.
    void SetOutcomeHandler(OutcomeHandler handler, void* context);
    // Without one the outcome handler is called for every source a group pass read.
    void SetPassOutcomeHandler(PassOutcomeHandler handler, void* context);
    // Called for kinds SearchDevices, AddAllRegisters and SetValue. AddAllRegisters and SetValue run on
    // the line of their group, between its passes, with the group kept alive meanwhile; the model
    // checks first that the job's record is still in the model (AddAllRegisters: HasGroup, SetValue:
    // GroupOf) and calls the handler only then. A search runs on a thread of its own and takes one line
    // at a time through RunOnLine. After the handler returns the model posts the message itself:
    // WM_SEARCH_FINISHED after SearchDevices, WM_MODEL_CHANGED after AddAllRegisters (in every case)
    // and after SetValue (only when the source was still there). The handler posts nothing.
    void SetDeviceJobHandler(DeviceJobHandler handler, void* context);

    // Starts the worker; on success loads the configuration file and marks the model loaded (also
    // when there was no file). config_path overrides the default location ($XDG_DATA_HOME/Mistvale.xml)
    // for this run, load and save alike. 1 when the worker started.
    int Start(const std::string& configPath = std::string());
    // Clears loaded, saves the configuration file (only when it was loaded), stops the worker while
    // calling pump, deletes all groups. Safe to call more than once.
    void Stop(PumpHandler pump = nullptr, void* pumpContext = nullptr);
    [[nodiscard]] int IsLoaded() const { return loaded_.load() ? 1 : 0; }

    // Saving as the tree changes. Additions, removals and imports count themselves; a record edited in
    // place is reported with NoteEdited. SaveIfChanged writes the file (atomically, as at the end) when
    // anything changed since the last save; 0 when that save failed (it is tried again next time).
    void NoteEdited() { ++changes_; }
    // Counts every change of the tree's records (added, removed, edited); equal counts, same tree.
    std::uint64_t ChangeCount() const { return changes_.load(); }
    int SaveIfChanged();
    // The file found at start could not be read: where it was kept aside (empty when it could not be;
    // the tree is then never saved over it). Empty path and 0 when the file was fine.
    [[nodiscard]] int StartedFromUnreadableFile() const { return configUnreadable_ ? 1 : 0; }
    const std::string& KeptUnreadableAs() const { return keptAs_; }

    // Adding (user-interface thread; AddSource also from device jobs). The list then owns the record.
    // 0 for nullptr arguments (nothing is taken over then).
    int AddGroup(Group* group);
    int AddSource(Group* group, Source* source); // sets the source's group, then appends

    // Refills the tree-list, only while loaded (see FillTreeRows).
    void Rebuild(const TreeSink& sink);

    // Queue operations: 1 when queued, 0 when the job cannot be made or the worker is not running.
    // QueueRefresh also returns 1 without queueing when a Refresh is already waiting that has not
    // started yet: that one will read fresh values, and slow devices cannot pile up passes.
    int QueueRefresh();
    int QueueDeleteGroup(Group* group);
    int QueueDeleteSource(Source* source);
    int QueueAddAllRegisters(Group* group);
    int QueueSearch();
    int QueueSetValue(Source* source, const WideString& text);

    // Runs work on a line's thread between its passes and waits for it (the device search probing one
    // port). The sources of the line's groups carry note meanwhile, so that their tooltip says why they
    // are not read. 0 when it did not run (shutting down).
    int RunOnLine(const std::string& line, const std::function<void()>& work, const std::string& note);
    // The line a group is on (the installed handler; "" without one).
    std::string LineOf(const Group& group) const;

    // Worker-side operations (any thread may call HasGroup / GroupOf).
    [[nodiscard]] int HasGroup(const Group* group) const;
    [[nodiscard]] int GroupOf(const Source* source) const; // 1 when some group's sources hold the source
    int RemoveGroup(Group* group);    // deletes it with its sources and posts WM_MODEL_CHANGED
    int RemoveSource(Source* source); // likewise
    // Keeps a group and its sources from being deleted until UnpinGroup: a pass outcome handler that
    // leaves the values to another thread pins the group it was handed. false when the group's removal
    // has begun. A removal waits for the pins; Stop waits for every pin before it deletes the groups.
    bool PinGroup(const Group* group) { return pins_.TryPin(group); }
    void UnpinGroup(const Group* group) { pins_.Unpin(group); }
    // Sends a message through the notify handler (nothing when none is installed).
    void Post(int message);

    // The groups (records are Group objects), in display and file order; walk under SharedLock.
    LockedList& Groups() { return groups_; }
    // Counts the removals of records so far; raised before a record leaves its list, so a reader that
    // holds the list's shared lock and sees the count unchanged since it last looked knows that every
    // record it saw then is still there.
    std::uint64_t Removals() const { return removals_.load(); }
    // The configuration file path of this run.
    std::string ConfigPath() const;
    // Jobs and line tasks waiting or running; a job leaves the queue only after it has run and posted
    // its messages, or handed its work to a line.
    std::size_t PendingJobs() { return jobs_.Count() + lines_.Busy(); }

private:
    static int HandleJob(int code, WorkerJob* job, void* context);
    void RunJob(WorkerJob& job);
    void RefreshAll();
    void RunPass(const std::string& line);
    void ReadGroupSourceBySource(Group& group);
    void RunOnGroupLine(WorkerJob& job, Group* group);
    void RunDeviceJob(WorkerJob& job);
    bool WaitUntilUnpinned(const Group* group);
    static void NoteOutcome(OutcomeHandler handler, void* context, Group& group, Source& source);
    int QueueJob(WorkerJob* job);

    LockedList groups_;
    std::atomic<std::uint64_t> removals_{0};
    JobQueue jobs_;
    LineWorkers lines_;
    GroupPins pins_;
    std::atomic<bool> loaded_{false};
    bool started_ = false;
    bool configUnreadable_ = false; // the loaded file existed but could not be read
    bool maySave_ = true;           // false when an unreadable file could not be kept aside
    std::string keptAs_;            // where the unreadable file was kept
    std::atomic<std::uint64_t> changes_{0};
    std::mutex saveMutex_;           // one save at a time (the timer's and the last one)
    std::uint64_t savedChanges_ = 0; // guarded by saveMutex_
    std::string configPath_;         // empty: the default location, built afresh each time
    mutable std::mutex handlerMutex_;
    NotifyHandler notify_ = nullptr;
    void* notifyContext_ = nullptr;
    SourceReadHandler reader_ = nullptr;
    OutcomeHandler outcome_ = nullptr;
    void* outcomeContext_ = nullptr;
    PassOutcomeHandler passOutcome_ = nullptr;
    void* passOutcomeContext_ = nullptr;
    void* readerContext_ = nullptr;
    GroupReadHandler groupReader_ = nullptr;
    void* groupReaderContext_ = nullptr;
    LineKeyHandler lineKey_ = nullptr;
    void* lineKeyContext_ = nullptr;
    DeviceJobHandler device_ = nullptr;
    void* deviceContext_ = nullptr;
};

} // namespace mistvale
