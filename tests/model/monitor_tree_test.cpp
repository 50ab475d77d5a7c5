#include "model/clock_reader.h"
#include "model/monitor_tree.h"
#include "model_test_support.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <ctime>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <utility>

namespace mistvale {

namespace {

// Counts the messages the worker sends.
struct Messages {
    std::atomic<int> modelChanged{0};
    std::atomic<int> searchFinished{0};
    std::atomic<int> other{0};
    static void Handle(void* context, int message) {
        Messages& self = *static_cast<Messages*>(context);
        if (message == WM_MODEL_CHANGED)
            ++self.modelChanged;
        else if (message == WM_SEARCH_FINISHED)
            ++self.searchFinished;
        else
            ++self.other;
    }
};

// A source reader that logs what it reads and can hold the worker inside a read.
struct Reader {
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<std::string> reads;
    bool hold = false;
    bool holding = false;
    std::string unreachable; // a group whose connection "cannot be opened"
    static int Read(void* context, Group& group, Source& source) {
        Reader& self = *static_cast<Reader*>(context);
        std::unique_lock<std::mutex> lock(self.mutex);
        self.reads.push_back(group.Name().ToUtf8() + "/" + source.Name().ToUtf8());
        source.SetValue(WideString::FromUtf8(std::to_string(self.reads.size()).c_str()));
        self.holding = true;
        self.cv.notify_all();
        self.cv.wait(lock, [&] { return !self.hold; });
        self.holding = false;
        return group.Name().ToUtf8() == self.unreachable ? 0 : 1;
    }
    bool WaitHolding() {
        std::unique_lock<std::mutex> lock(mutex);
        return cv.wait_for(lock, std::chrono::seconds(5), [&] { return holding; });
    }
    void Release() {
        std::lock_guard<std::mutex> lock(mutex);
        hold = false;
        cv.notify_all();
    }
    size_t Count() {
        std::lock_guard<std::mutex> lock(mutex);
        return reads.size();
    }
};

// Logs device jobs; AddAllRegisters appends two sources from the worker.
struct Devices {
    std::mutex mutex;
    std::vector<JobKind> kinds;
    std::vector<std::string> texts;
    static void Run(void* context, MonitorTree& tree, WorkerJob& job) {
        Devices& self = *static_cast<Devices*>(context);
        {
            std::lock_guard<std::mutex> lock(self.mutex);
            self.kinds.push_back(job.Kind());
            self.texts.push_back(job.Text().ToUtf8());
        }
        if (job.Kind() == JobKind::AddAllRegisters) {
            for (int i = 0; i < 2; ++i) {
                Source* source = new Source();
                source->SetParameter(u"1/hex");
                tree.AddSource(job.GetGroup(), source);
            }
        }
        if (job.Kind() == JobKind::SetValue)
            job.GetSource()->SetValue(job.Text());
    }
    std::vector<JobKind> Kinds() {
        std::lock_guard<std::mutex> lock(mutex);
        return kinds;
    }
};

class MonitorTreeTest : public ::testing::Test {
protected:
    void SetUp() override { tree_.SetNotifyHandler(&Messages::Handle, &messages_); }
    void TearDown() override { tree_.Stop(); }
    int StartTree() { return tree_.Start(folder_.File("Mistvale.xml")); }
    Group* NewGroup(const char16_t* name, const char16_t* parameter) {
        Group* group = new Group();
        group->SetNameAndParameter(name, parameter);
        tree_.AddGroup(group);
        return group;
    }
    Source* NewSource(Group* group, const char16_t* name, const char16_t* parameter) {
        Source* source = new Source();
        source->SetNameAndParameter(name, parameter);
        tree_.AddSource(group, source);
        return source;
    }
    bool WaitForChanges(int count) {
        return WaitUntil([&] { return messages_.modelChanged.load() >= count; });
    }
    // Waits until every queued job has run, the refresh queued behind them included. Counting messages
    // alone would not do: a message of an earlier job may arrive after the count was taken.
    void Drain() {
        ASSERT_EQ(tree_.QueueRefresh(), 1);
        ASSERT_TRUE(WaitUntil([&] { return tree_.PendingJobs() == 0; }));
    }

    TempFolder folder_;
    Messages messages_;
    MonitorTree tree_;
};

std::string Strftime(const char* pattern) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char buffer[64];
    size_t size = std::strftime(buffer, sizeof(buffer), pattern, &local);
    return std::string(buffer, size);
}

TEST_F(MonitorTreeTest, ClockSourcesShowDateAndTimeOfTheLocale) {
    const char* saved = std::getenv("LC_ALL");
    std::string savedValue = saved != nullptr ? saved : "";
    ::setenv("LC_ALL", "C", 1);
    ASSERT_EQ(StartTree(), 1);
    Group* clock = NewGroup(u"Clock", u"clock");
    Source* date = NewSource(clock, u"Date", u"date");
    Source* time = NewSource(clock, u"Time", u"Time");
    Source* other = NewSource(clock, u"Other", u"DATE/x");
    other->SetValue(u"untouched");
    Group* tcp = NewGroup(u"Tcp", u"ModbusTcpIp/127.0.0.1/1");
    Source* device = NewSource(tcp, u"Device", u"Time");
    device->SetValue(u"kept");

    // The seconds may tick between the read and the comparison: retry a few passes.
    bool matched = false;
    for (int attempt = 0; attempt < 5 && !matched; ++attempt) {
        int before = messages_.modelChanged.load();
        ASSERT_EQ(tree_.QueueRefresh(), 1);
        ASSERT_TRUE(WaitForChanges(before + 1));
        std::string expectedTime = Strftime("%H:%M:%S");
        matched = time->Value().ToUtf8() == expectedTime;
    }
    EXPECT_TRUE(matched) << time->Value().ToUtf8();
    EXPECT_EQ(date->Value().ToUtf8(), Strftime("%m/%d/%y"));
    EXPECT_EQ(other->Value().ToUtf8(), "untouched");
    EXPECT_EQ(device->Value().ToUtf8(), "kept"); // the model's own reader reads clocks only
    EXPECT_EQ(date->HistoryCreated(), 0);
    if (saved != nullptr)
        ::setenv("LC_ALL", savedValue.c_str(), 1);
    else
        ::unsetenv("LC_ALL");
}

TEST_F(MonitorTreeTest, ClockReaderDecidesByTheKindToken) {
    Group group;
    Source source;
    source.SetParameter(u"Time");
    group.SetParameter(u"Clock/extra");
    EXPECT_EQ(IsClockGroup(group), 1);
    group.SetParameter(u"ModbusSerial/9600/N/COM1/1");
    EXPECT_EQ(IsClockGroup(group), 0);
    ReadClockSource(group, source);
    EXPECT_TRUE(source.Value().IsEmpty());
    group.SetParameter(u"");
    EXPECT_EQ(IsClockGroup(group), 0);
    group.SetParameter(u"CLOCK");
    ReadClockSource(group, source);
    EXPECT_FALSE(source.Value().IsEmpty());
    source.SetParameter(u"Times");
    EXPECT_EQ(ReadClockValue(source), 0);
}

TEST_F(MonitorTreeTest, RefreshReadsEverySourceInOrderThroughTheInstalledReader) {
    Reader reader;
    tree_.SetSourceReadHandler(&Reader::Read, &reader);
    ASSERT_EQ(StartTree(), 1);
    Group* a = NewGroup(u"A", u"ModbusTcpIp/x/502");
    NewSource(a, u"1", u"1");
    NewSource(a, u"2", u"2");
    NewGroup(u"Empty", u"Clock");
    Group* c = NewGroup(u"C", u"");
    NewSource(c, u"3", u"3");
    Drain();
    EXPECT_EQ(reader.reads, (std::vector<std::string>{"A/1", "A/2", "C/3"}));
    EXPECT_EQ(messages_.searchFinished.load(), 0);
    EXPECT_EQ(messages_.other.load(), 0);
}

TEST_F(MonitorTreeTest, AGroupThatCannotBeOpenedIsAskedOnceAPassAndTheNextGroupStillRead) {
    Reader reader;
    reader.unreachable = "Dead";
    tree_.SetSourceReadHandler(&Reader::Read, &reader);
    ASSERT_EQ(StartTree(), 1);
    Group* dead = NewGroup(u"Dead", u"ModbusTcpIp/x/502");
    NewSource(dead, u"1", u"1");
    Source* second = NewSource(dead, u"2", u"2");
    Source* third = NewSource(dead, u"3", u"3");
    second->SetValue(u"old");
    Group* live = NewGroup(u"Live", u"ModbusTcpIp/y/502");
    NewSource(live, u"4", u"4");
    Drain();
    EXPECT_EQ(reader.reads, (std::vector<std::string>{"Dead/1", "Live/4"}));
    EXPECT_EQ(second->Value().ToUtf8(), "Can't get value.");
    EXPECT_EQ(third->Value().ToUtf8(), "Can't get value.");
    // The next pass tries the group again.
    Drain();
    EXPECT_EQ(reader.Count(), 4u);
}

TEST_F(MonitorTreeTest, DeletionsRunOnTheWorkerAndOnlyOnce) {
    ASSERT_EQ(StartTree(), 1);
    Group* doomed = NewGroup(u"Doomed", u"Clock");
    NewSource(doomed, u"with it", u"Time");
    Group* kept = NewGroup(u"Kept", u"Clock");
    Source* gone = NewSource(kept, u"gone", u"Date");
    Source* stays = NewSource(kept, u"stays", u"Date");

    ASSERT_EQ(tree_.QueueDeleteGroup(doomed), 1);
    ASSERT_EQ(tree_.QueueDeleteGroup(doomed), 1); // a pending job already deletes it
    ASSERT_EQ(tree_.QueueDeleteSource(gone), 1);
    ASSERT_EQ(tree_.QueueDeleteSource(gone), 1);
    Drain();
    EXPECT_EQ(messages_.modelChanged.load(), 3); // one per real removal, one for the refresh
    EXPECT_EQ(tree_.Groups().Count(), 1u);
    EXPECT_EQ(tree_.HasGroup(kept), 1);
    EXPECT_EQ(tree_.HasGroup(doomed), 0);
    EXPECT_EQ(tree_.GroupOf(gone), 0);
    EXPECT_EQ(tree_.GroupOf(stays), 1);
    EXPECT_EQ(kept->Sources().Count(), 1u);
    EXPECT_EQ(tree_.QueueDeleteGroup(nullptr), 0);
    EXPECT_EQ(tree_.QueueDeleteSource(nullptr), 0);
    EXPECT_EQ(tree_.RemoveGroup(nullptr), 0);
    EXPECT_EQ(tree_.RemoveSource(nullptr), 0);
}

TEST_F(MonitorTreeTest, DeviceJobsRunOnlyForRecordsStillThere) {
    Devices devices;
    tree_.SetDeviceJobHandler(&Devices::Run, &devices);
    ASSERT_EQ(StartTree(), 1);
    Group* group = NewGroup(u"Device", u"ModbusTcpIp/127.0.0.1/502");
    Source* source = NewSource(group, u"Value", u"100");
    Group* lostGroup = NewGroup(u"Lost", u"ModbusTcpIp/127.0.0.1/502");
    Source* lostSource = NewSource(lostGroup, u"Lost value", u"100");

    ASSERT_EQ(tree_.QueueSearch(), 1);
    ASSERT_EQ(tree_.QueueAddAllRegisters(group), 1);
    ASSERT_EQ(tree_.QueueSetValue(source, u"42"), 1);
    ASSERT_EQ(tree_.QueueDeleteGroup(lostGroup), 1);
    ASSERT_EQ(tree_.QueueAddAllRegisters(lostGroup), 1);
    ASSERT_EQ(tree_.QueueSetValue(lostSource, u"7"), 1);
    Drain();
    // The search runs on a thread of its own; the group's jobs in their order on its line.
    std::vector<JobKind> kinds = devices.Kinds();
    const auto search = std::find(kinds.begin(), kinds.end(), JobKind::SearchDevices);
    ASSERT_NE(search, kinds.end());
    devices.texts.erase(devices.texts.begin() + (search - kinds.begin()));
    kinds.erase(search);
    EXPECT_EQ(kinds, (std::vector<JobKind>{JobKind::AddAllRegisters, JobKind::SetValue}));
    EXPECT_EQ(devices.texts[1], "42");
    EXPECT_EQ(source->Value().ToUtf8(), "42");
    EXPECT_EQ(group->Sources().Count(), 3u); // two registers added by the worker
    EXPECT_EQ(messages_.searchFinished.load(), 1);
    // AddAllRegisters twice (also for the lost group), SetValue once, the delete and the refresh.
    EXPECT_EQ(messages_.modelChanged.load(), 5);
}

TEST_F(MonitorTreeTest, WithoutDeviceHandlerJobsStillEndWithTheirMessages) {
    ASSERT_EQ(StartTree(), 1);
    Group* group = NewGroup(u"G", u"Clock");
    Source* source = NewSource(group, u"S", u"Time");
    ASSERT_EQ(tree_.QueueSearch(), 1);
    ASSERT_EQ(tree_.QueueAddAllRegisters(group), 1);
    ASSERT_EQ(tree_.QueueSetValue(source, u"1"), 1);
    Drain();
    EXPECT_EQ(messages_.searchFinished.load(), 1);
    EXPECT_EQ(messages_.modelChanged.load(), 3);
}

TEST_F(MonitorTreeTest, QueueingNeedsARunningWorker) {
    Group* group = NewGroup(u"G", u"Clock");
    Source* source = NewSource(group, u"S", u"Time");
    EXPECT_EQ(tree_.QueueRefresh(), 0);
    EXPECT_EQ(tree_.QueueSearch(), 0);
    EXPECT_EQ(tree_.QueueDeleteGroup(group), 0);
    EXPECT_EQ(tree_.QueueSetValue(source, u"1"), 0);
    EXPECT_EQ(tree_.AddGroup(nullptr), 0);
    EXPECT_EQ(tree_.AddSource(group, nullptr), 0);
    EXPECT_EQ(tree_.AddSource(nullptr, source), 0);
    EXPECT_EQ(source->GetGroup(), group);
    tree_.Stop();
    EXPECT_EQ(tree_.Start(folder_.File("Mistvale.xml")), 0); // a stopped model is not started again
    EXPECT_EQ(tree_.Groups().Count(), 0u);
}

TEST_F(MonitorTreeTest, RebuildOnlyWhileLoaded) {
    RecordingTree rows;
    Group* group = NewGroup(u"G", u"Clock");
    NewSource(group, u"S", u"Time");
    tree_.Rebuild(rows.Sink());
    EXPECT_TRUE(rows.calls.empty());
    ASSERT_EQ(StartTree(), 1);
    EXPECT_EQ(tree_.IsLoaded(), 1);
    tree_.Rebuild(rows.Sink());
    EXPECT_EQ(rows.items.size(), 2u);
    tree_.Stop();
    EXPECT_EQ(tree_.IsLoaded(), 0);
    rows.calls.clear();
    tree_.Rebuild(rows.Sink());
    EXPECT_TRUE(rows.calls.empty());
}

// Slow devices: the timer keeps ticking while a refresh runs; only one more pass follows it.
TEST_F(MonitorTreeTest, RefreshTicksDuringASlowPassQueueOnlyOneMore) {
    Reader reader;
    reader.hold = true;
    tree_.SetSourceReadHandler(&Reader::Read, &reader);
    ASSERT_EQ(StartTree(), 1);
    NewSource(NewGroup(u"G", u"ModbusTcpIp/x/1"), u"S", u"1");
    ASSERT_EQ(tree_.QueueRefresh(), 1);
    ASSERT_TRUE(reader.WaitHolding());
    for (int tick = 0; tick < 50; ++tick)
        EXPECT_EQ(tree_.QueueRefresh(), 1);
    Group* doomed = NewGroup(u"Doomed", u"Clock");
    ASSERT_EQ(tree_.QueueDeleteGroup(doomed), 1);
    // A group no pass is working on goes at once: the slow device holds up nothing but its own work.
    ASSERT_TRUE(WaitUntil([&] { return tree_.HasGroup(doomed) == 0; }));
    reader.Release();
    ASSERT_TRUE(WaitForChanges(3)); // two passes and the delete
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(reader.Count(), 2u);
    EXPECT_EQ(messages_.modelChanged.load(), 3);
}

// Adding a group or a source does not wait for a refresh that hangs on a slow device.
TEST_F(MonitorTreeTest, AddingDoesNotWaitForASlowRefresh) {
    Reader reader;
    reader.hold = true;
    tree_.SetSourceReadHandler(&Reader::Read, &reader);
    ASSERT_EQ(StartTree(), 1);
    Group* group = NewGroup(u"G", u"ModbusTcpIp/x/1");
    NewSource(group, u"first", u"1");
    ASSERT_EQ(tree_.QueueRefresh(), 1);
    ASSERT_TRUE(reader.WaitHolding());
    NewSource(group, u"second", u"2"); // appended behind the source being read
    NewGroup(u"H", u"Clock");
    EXPECT_EQ(tree_.Groups().Count(), 2u);
    reader.Release();
    ASSERT_TRUE(WaitForChanges(1));
    EXPECT_EQ(reader.reads, (std::vector<std::string>{"G/first", "G/second"}));
}

// Closing during a refresh: the stop waits for the worker (pumping meanwhile), the rest of the pass
// is skipped, and the groups are deleted only after the worker has ended.
// After a group's pass the pass handler gets its sources at once (the per-source handler nothing);
// a group it pins stays until released, for a removal and for Stop alike.
TEST_F(MonitorTreeTest, APassHandsEachGroupOverOnceAndItsPinHoldsOffRemovalAndStop) {
    struct Handed {
        MonitorTree* tree = nullptr;
        std::mutex mutex;
        std::vector<std::pair<Group*, size_t>> passes;
        std::atomic<int> perSource{0};
        static void Read(void*, Group&, Source* const* sources, size_t count, const std::atomic<bool>&) {
            for (size_t i = 0; i < count; ++i)
                sources[i]->SetValue(u"read");
        }
        static void Pass(void* context, Group& group, Source* const*, size_t count) {
            auto& self = *static_cast<Handed*>(context);
            ASSERT_TRUE(self.tree->PinGroup(&group));
            std::lock_guard<std::mutex> lock(self.mutex);
            self.passes.emplace_back(&group, count);
        }
        static void One(void* context, Group&, Source&) { ++static_cast<Handed*>(context)->perSource; }
    } handed;
    handed.tree = &tree_;
    tree_.SetGroupReadHandler(&Handed::Read, nullptr);
    tree_.SetOutcomeHandler(&Handed::One, &handed);
    tree_.SetPassOutcomeHandler(&Handed::Pass, &handed);
    ASSERT_EQ(StartTree(), 1);
    Group* first = NewGroup(u"First", u"ModbusTcpIp/x/1");
    Group* second = NewGroup(u"Second", u"ModbusTcpIp/x/1");
    for (int i = 0; i < 3; ++i)
        NewSource(first, u"S", u"1");
    NewSource(second, u"S", u"1");
    Drain();
    {
        std::lock_guard<std::mutex> lock(handed.mutex);
        EXPECT_EQ(handed.passes, (std::vector<std::pair<Group*, size_t>>{{first, 3}, {second, 1}}));
    }
    EXPECT_EQ(handed.perSource.load(), 0);

    ASSERT_EQ(tree_.QueueDeleteGroup(first), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(tree_.HasGroup(first), 1); // the removal waits for the pin
    tree_.UnpinGroup(first);
    EXPECT_TRUE(WaitUntil([&] { return tree_.HasGroup(first) == 0; }));

    std::atomic<bool> released{false};
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        released = true;
        tree_.UnpinGroup(second);
    });
    tree_.Stop();
    EXPECT_TRUE(released.load()); // Stop deleted the group only after its pin was gone
    releaser.join();
}

TEST_F(MonitorTreeTest, StopDuringARefreshWaitsAndPumps) {
    Reader reader;
    reader.hold = true;
    tree_.SetSourceReadHandler(&Reader::Read, &reader);
    ASSERT_EQ(StartTree(), 1);
    Group* group = NewGroup(u"G", u"ModbusTcpIp/x/1");
    for (int i = 0; i < 5; ++i)
        NewSource(group, u"S", u"1");
    ASSERT_EQ(tree_.QueueRefresh(), 1);
    ASSERT_TRUE(reader.WaitHolding());
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(tree_.QueueDeleteGroup(group), 1);
    struct Pump {
        Reader* reader;
        MonitorTree* tree;
        int calls = 0;
        size_t groupsWhileWaiting = 0;
    } pump{&reader, &tree_};
    tree_.Stop(
        [](void* context) {
            Pump& p = *static_cast<Pump*>(context);
            if (++p.calls == 2) {
                p.groupsWhileWaiting = p.tree->Groups().Count();
                p.reader->Release();
            }
        },
        &pump);
    EXPECT_GE(pump.calls, 3);
    EXPECT_EQ(pump.groupsWhileWaiting, 1u);
    EXPECT_EQ(reader.Count(), 1u); // the other four sources were not read any more
    EXPECT_EQ(tree_.Groups().Count(), 0u);
    EXPECT_EQ(messages_.modelChanged.load(), 1); // no delete job ran
    EXPECT_EQ(ReadWholeFile(folder_.File("Mistvale.xml")),
              "<Mistvale><Groups><Group Name=\"G\" Parameter=\"ModbusTcpIp/x/1\"><Sources>"
              "<Source Name=\"S\" Parameter=\"1\"/><Source Name=\"S\" Parameter=\"1\"/>"
              "<Source Name=\"S\" Parameter=\"1\"/><Source Name=\"S\" Parameter=\"1\"/>"
              "<Source Name=\"S\" Parameter=\"1\"/></Sources></Group></Groups></Mistvale>");
}

} // namespace

} // namespace mistvale
