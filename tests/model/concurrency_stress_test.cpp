#include "model/monitor_tree.h"
#include "model_test_support.h"

#include <atomic>
#include <gtest/gtest.h>
#include <random>

namespace mistvale {

namespace {

struct StressCounters {
    std::atomic<long> reads{0};
    std::atomic<long> registersAdded{0};
    std::atomic<int> messages{0};
};

// The worker's reader: reads the paths, replaces the value text and feeds the history.
int StressRead(void* context, Group& group, Source& source) {
    StressCounters& counters = *static_cast<StressCounters*>(context);
    long n = ++counters.reads;
    WideString path = group.Parameter();
    WideString parameter = source.Parameter();
    WideString value;
    value.Format(u"%ld %d %d", n, path.Length(), parameter.Length());
    source.SetValue(value);
    source.AppendSample(static_cast<std::int16_t>(n));
    return 1;
}

// AddAllRegisters appends sources from the worker while the other threads walk the same list.
void StressDeviceJob(void* context, MonitorTree& tree, WorkerJob& job) {
    StressCounters& counters = *static_cast<StressCounters*>(context);
    if (job.Kind() == JobKind::AddAllRegisters) {
        for (int i = 0; i < 3; ++i) {
            Source* source = new Source();
            source->SetParameter(u"100/graph/0/1000");
            tree.AddSource(job.GetGroup(), source);
            ++counters.registersAdded;
        }
    }
}

// Picks the index-th group (modulo their number) while holding the list, and runs action on it.
template <class Action> bool WithGroup(MonitorTree& tree, unsigned index, Action action) {
    LockedList& groups = tree.Groups();
    SharedLock lock(groups);
    size_t count = 0;
    for (ListItem* item = groups.First(); item != nullptr; item = item->Next())
        ++count;
    if (count == 0)
        return false;
    ListItem* item = groups.First();
    for (unsigned i = 0; i < index % count; ++i)
        item = item->Next();
    action(*static_cast<Group*>(item));
    return true;
}

// The worker refreshes, removes records and appends registers, one thread rebuilds rows and edits
// names, paths and reads values, another appends groups and sources and queues removals. Run under
// ThreadSanitizer this proves the locking of lists, fields and value texts.
TEST(ConcurrencyStress, WorkerAndTwoOtherThreadsShareTheModel) {
    TempFolder folder;
    StressCounters counters;
    MonitorTree tree;
    tree.SetNotifyHandler([](void* c, int) { ++static_cast<StressCounters*>(c)->messages; }, &counters);
    tree.SetSourceReadHandler(&StressRead, &counters);
    tree.SetDeviceJobHandler(&StressDeviceJob, &counters);
    ASSERT_EQ(tree.Start(folder.File("Mistvale.xml")), 1);
    for (int g = 0; g < 8; ++g) {
        Group* group = new Group();
        group->SetParameter(u"ModbusTcpIp/127.0.0.1/502");
        tree.AddGroup(group);
        for (int s = 0; s < 5; ++s)
            tree.AddSource(group, new Source());
    }

    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1200);
    std::atomic<bool> stop{false};
    std::atomic<long> rebuilds{0};
    std::atomic<long> edits{0};

    std::thread ui([&] {
        std::mt19937 random(1);
        RecordingTree rows;
        while (!stop.load()) {
            tree.QueueRefresh();
            tree.Rebuild(rows.Sink());
            ++rebuilds;
            rows.selectedData = rows.items.empty() ? nullptr : rows.items[random() % rows.items.size()].data;
            unsigned pick = random();
            WithGroup(
                tree, pick,
                [&](Group& group) {
                    WideString path;
                    path.Format(u"ModbusTcpIp/host%u/502", pick % 1000);
                    group.SetNameAndParameter(u"Edited group", path);
                    SharedLock sourcesLock(group.Sources());
                    for (ListItem* item = group.Sources().First(); item != nullptr; item = item->Next()) {
                        Source* source = static_cast<Source*>(item);
                        source->SetParameter(pick % 2 ? u"100/graph/0/1000" : u"7/hex");
                        WideString value = source->Value(); // the value dialog's read
                        (void)value;
                        std::vector<std::int16_t> samples;
                        source->CreateHistory(); // the graph cell's first drawing
                        source->CopySamples(samples);
                        ++edits;
                    }
                });
        }
    });

    std::thread adder([&] {
        std::mt19937 random(2);
        while (!stop.load()) {
            unsigned pick = random();
            switch (pick % 6) {
            case 0: {
                Group* group = new Group();
                group->SetParameter(u"ModbusSerial/9600/N/ttyS0/1");
                tree.AddGroup(group);
                break;
            }
            case 1:
            case 2:
                WithGroup(tree, pick >> 3, [&](Group& group) { tree.AddSource(&group, new Source()); });
                break;
            case 3:
                WithGroup(tree, pick >> 3, [&](Group& group) { tree.QueueAddAllRegisters(&group); });
                break;
            case 4:
                WithGroup(tree, pick >> 3, [&](Group& group) {
                    SharedLock sourcesLock(group.Sources());
                    ListItem* first = group.Sources().First();
                    if (first != nullptr) {
                        tree.QueueDeleteSource(static_cast<Source*>(first));
                    }
                });
                break;
            default:
                if (tree.Groups().Count() > 4) {
                    WithGroup(tree, pick >> 3, [&](Group& group) { tree.QueueDeleteGroup(&group); });
                }
                break;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });

    while (std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    stop = true;
    ui.join();
    adder.join();
    tree.Stop();

    EXPECT_GT(counters.reads.load(), 0);
    EXPECT_GT(rebuilds.load(), 0);
    EXPECT_GT(edits.load(), 0);
    EXPECT_GT(counters.messages.load(), 0);
    EXPECT_EQ(tree.Groups().Count(), 0u);
    // The file written at the end is a complete tree that loads again.
    MonitorTree again;
    ASSERT_EQ(again.Start(folder.File("Mistvale.xml")), 1);
    EXPECT_GE(again.Groups().Count(), 4u);
    again.Stop();
}

} // namespace

} // namespace mistvale
