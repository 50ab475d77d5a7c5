// The Modbus jobs run by the model's own worker thread: refresh, set value and add all registers.
#include "modbus/device_jobs.h"
#include "model/monitor_tree.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace mistvale {

namespace {

struct Notifications {
    std::mutex mutex;
    std::condition_variable cv;
    int modelChanged = 0;

    static void Handler(void* context, int message) {
        Notifications* self = static_cast<Notifications*>(context);
        std::lock_guard<std::mutex> lock(self->mutex);
        if (message == WM_MODEL_CHANGED)
            ++self->modelChanged;
        self->cv.notify_all();
    }
    bool WaitFor(int count) {
        std::unique_lock<std::mutex> lock(mutex);
        return cv.wait_for(lock, std::chrono::seconds(5), [&] { return modelChanged >= count; });
    }
};

// Every job queued so far has run on its line and posted what it posts.
bool WaitIdle(MonitorTree& tree) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (tree.PendingJobs() != 0) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

TEST(DeviceJobs, RefreshSetValueAndRegisterMapOnTheWorker) {
    SimProcess sim;
    sim.SetMaxSeconds(60);
    ASSERT_TRUE(sim.StartTcp(R"(<Simulator><Device slave="1"><Holding address="100" values="42"/>
      <SelfDescription table="500" data="2000">0x0185</SelfDescription></Device></Simulator>)"));
    TempDir dir;
    MonitorTree tree;
    DeviceJobsContext jobs;
    Notifications notes;
    tree.SetNotifyHandler(Notifications::Handler, &notes);
    InstallDeviceJobs(tree, &jobs);
    ASSERT_EQ(tree.Start(dir.File("Mistvale.xml")), 1);

    Group* group = new Group();
    group->SetParameter(WideString::FromUtf8(("ModbusTcpIp/127.0.0.1/" + sim.PortText()).c_str()));
    ASSERT_EQ(tree.AddGroup(group), 1);
    Source* source = new Source();
    source->SetParameter(WideString(u"100/hex"));
    ASSERT_EQ(tree.AddSource(group, source), 1);
    Group* clock = new Group(); // "Clock"
    ASSERT_EQ(tree.AddGroup(clock), 1);
    Source* time = new Source();
    time->SetParameter(WideString(u"Time"));
    ASSERT_EQ(tree.AddSource(clock, time), 1);

    ASSERT_EQ(tree.QueueRefresh(), 1);
    ASSERT_TRUE(WaitIdle(tree));
    EXPECT_EQ(source->Value().ToUtf8(), "0x002A");
    EXPECT_FALSE(time->Value().IsEmpty()); // clock groups still read through the installed reader

    ASSERT_EQ(tree.QueueSetValue(source, WideString(u"0x1F")), 1);
    ASSERT_TRUE(WaitIdle(tree));
    EXPECT_EQ(source->Value().ToUtf8(), "0x1F");
    EXPECT_EQ(sim.Command("get hr 100"), "31");

    ASSERT_EQ(tree.QueueAddAllRegisters(group), 1);
    ASSERT_TRUE(WaitIdle(tree));
    EXPECT_EQ(group->Sources().Count(), 2u);

    // A search without a target (no Search dialog open) does nothing.
    ASSERT_EQ(tree.QueueSearch(), 1);
    ASSERT_EQ(tree.QueueRefresh(), 1);
    ASSERT_TRUE(WaitIdle(tree));
    EXPECT_TRUE(notes.WaitFor(4));
    tree.Stop();
}

} // namespace

} // namespace mistvale
