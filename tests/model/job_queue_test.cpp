#include "model/job_queue.h"
#include "model_test_support.h"

#include <atomic>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>

namespace mistvale {

namespace {

struct CountingJob : WorkerJob {
    CountingJob(JobKind kind, std::atomic<int>* deleted) : WorkerJob(kind), deleted(deleted) {}
    ~CountingJob() override { ++*deleted; }
    std::atomic<int>* deleted;
};

// A handler that logs the kinds it runs and can hold the running job until released.
struct Recorder {
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<JobKind> ran;
    std::vector<int> codes;
    bool hold = false;
    bool holding = false;
    int startResult = 1;
    int refuseFirstRuns = 0; // results of 0 for the first runs (the job stays queued)

    static int Handle(int code, WorkerJob* job, void* context) {
        Recorder& self = *static_cast<Recorder*>(context);
        std::unique_lock<std::mutex> lock(self.mutex);
        self.codes.push_back(code);
        if (code == kJobNotifyStart)
            return self.startResult;
        if (code != kJobNotifyRun)
            return 1;
        if (self.refuseFirstRuns > 0) {
            --self.refuseFirstRuns;
            return 0;
        }
        self.ran.push_back(job->Kind());
        self.holding = true;
        self.cv.notify_all();
        self.cv.wait(lock, [&] { return !self.hold; });
        self.holding = false;
        return 1;
    }
    void Release() {
        std::lock_guard<std::mutex> lock(mutex);
        hold = false;
        cv.notify_all();
    }
    bool WaitHolding() {
        std::unique_lock<std::mutex> lock(mutex);
        return cv.wait_for(lock, std::chrono::seconds(5), [&] { return holding; });
    }
    std::vector<JobKind> Ran() {
        std::lock_guard<std::mutex> lock(mutex);
        return ran;
    }
};

TEST(JobQueue, RunsJobsInQueueOrder) {
    Recorder recorder;
    JobQueue queue;
    WorkerJob* early = new WorkerJob(JobKind::Refresh);
    EXPECT_EQ(queue.Queue(early), 0); // refused before start
    delete early;
    ASSERT_EQ(queue.Start(&Recorder::Handle, &recorder), 1);
    EXPECT_EQ(queue.Start(&Recorder::Handle, &recorder), 0); // already running
    recorder.hold = true;
    ASSERT_EQ(queue.Queue(new WorkerJob(JobKind::Refresh)), 1);
    ASSERT_TRUE(recorder.WaitHolding());
    for (JobKind kind : {JobKind::DeleteGroup, JobKind::SetValue, JobKind::DeleteSource, JobKind::Refresh})
        ASSERT_EQ(queue.Queue(new WorkerJob(kind)), 1);
    EXPECT_EQ(queue.Count(), 5u); // the running job stays at the head until it is done
    EXPECT_EQ(queue.Queue(nullptr), 0);
    recorder.Release();
    ASSERT_TRUE(WaitUntil([&] { return queue.Count() == 0; }));
    EXPECT_EQ(recorder.Ran(), (std::vector<JobKind>{JobKind::Refresh, JobKind::DeleteGroup, JobKind::SetValue,
                                                    JobKind::DeleteSource, JobKind::Refresh}));
    queue.Stop();
    EXPECT_EQ(recorder.codes.front(), kJobNotifyStart);
    EXPECT_EQ(recorder.codes.back(), kJobNotifyEnd);
    WorkerJob* late = new WorkerJob(JobKind::Refresh);
    EXPECT_EQ(queue.Queue(late), 0); // refused after stop; the caller deletes it
    delete late;
    EXPECT_EQ(queue.Start(&Recorder::Handle, &recorder), 0); // a stopped queue is not restarted
}

// A refresh is queued only when none is waiting that has not started: a running one does not count,
// other kinds keep their places.
TEST(JobQueue, RefreshesDoNotPileUp) {
    Recorder recorder;
    recorder.hold = true;
    JobQueue queue;
    ASSERT_EQ(queue.Start(&Recorder::Handle, &recorder), 1);
    ASSERT_EQ(queue.QueueUnlessWaiting(new WorkerJob(JobKind::Refresh)), 1);
    ASSERT_TRUE(recorder.WaitHolding());
    EXPECT_EQ(queue.Count(), 1u);
    ASSERT_EQ(queue.QueueUnlessWaiting(new WorkerJob(JobKind::Refresh)), 1); // the first one runs already
    EXPECT_EQ(queue.Count(), 2u);
    for (int tick = 0; tick < 20; ++tick)
        EXPECT_EQ(queue.QueueUnlessWaiting(new WorkerJob(JobKind::Refresh)), 1);
    EXPECT_EQ(queue.Count(), 2u);
    ASSERT_EQ(queue.Queue(new WorkerJob(JobKind::DeleteGroup)), 1);
    EXPECT_EQ(queue.QueueUnlessWaiting(new WorkerJob(JobKind::Refresh)), 1);
    EXPECT_EQ(queue.Count(), 3u); // the waiting refresh still serves, ahead of the delete
    recorder.Release();
    ASSERT_TRUE(WaitUntil([&] { return queue.Count() == 0; }));
    EXPECT_EQ(recorder.Ran(),
              (std::vector<JobKind>{JobKind::Refresh, JobKind::Refresh, JobKind::DeleteGroup}));
    // Idle again: the next tick queues and runs a refresh.
    ASSERT_EQ(queue.QueueUnlessWaiting(new WorkerJob(JobKind::Refresh)), 1);
    ASSERT_TRUE(WaitUntil([&] { return recorder.Ran().size() == 4; }));
    queue.Stop();
}

// Closing while many jobs wait: the running one finishes, the others are discarded unrun, and the
// pump keeps being called while the worker ends.
TEST(JobQueue, StopDiscardsWaitingJobsAndPumpsMeanwhile) {
    Recorder recorder;
    recorder.hold = true;
    std::atomic<int> deleted{0};
    JobQueue queue;
    ASSERT_EQ(queue.Start(&Recorder::Handle, &recorder), 1);
    ASSERT_EQ(queue.Queue(new CountingJob(JobKind::Refresh, &deleted)), 1);
    ASSERT_TRUE(recorder.WaitHolding());
    for (int i = 0; i < 5000; ++i)
        ASSERT_EQ(queue.Queue(new CountingJob(JobKind::Refresh, &deleted)), 1);
    struct Pump {
        Recorder* recorder;
        int calls = 0;
    } pump{&recorder};
    queue.Stop(
        [](void* context) {
            Pump& p = *static_cast<Pump*>(context);
            if (++p.calls == 3)
                p.recorder->Release(); // the running job ends only while stop is waiting
        },
        &pump);
    EXPECT_GE(pump.calls, 4); // once more after the end
    EXPECT_EQ(queue.IsRunning(), 0);
    EXPECT_EQ(recorder.Ran().size(), 1u);
    EXPECT_EQ(deleted.load(), 5001);
    EXPECT_EQ(queue.Count(), 0u);
}

TEST(JobQueue, HandlerResultsSteerTheLoop) {
    {
        Recorder recorder;
        recorder.startResult = 0; // ends the thread before the first wait
        JobQueue queue;
        ASSERT_EQ(queue.Start(&Recorder::Handle, &recorder), 1);
        ASSERT_TRUE(WaitUntil([&] { return queue.IsRunning() == 0; }));
        WorkerJob* job = new WorkerJob(JobKind::Refresh);
        EXPECT_EQ(queue.Queue(job), 0);
        delete job;
        queue.Stop();
        EXPECT_EQ(recorder.codes, std::vector<int>{kJobNotifyStart});
    }
    {
        Recorder recorder;
        recorder.refuseFirstRuns = 1; // the job stays at the head until the next wake-up
        JobQueue queue;
        ASSERT_EQ(queue.Start(&Recorder::Handle, &recorder), 1);
        ASSERT_EQ(queue.Queue(new WorkerJob(JobKind::DeleteSource)), 1);
        ASSERT_TRUE(WaitUntil([&] {
            std::lock_guard<std::mutex> lock(recorder.mutex);
            return recorder.codes.size() >= 2;
        }));
        EXPECT_EQ(queue.Count(), 1u);
        EXPECT_TRUE(recorder.Ran().empty());
        ASSERT_EQ(queue.Queue(new WorkerJob(JobKind::SetValue)), 1);
        ASSERT_TRUE(WaitUntil([&] { return queue.Count() == 0; }));
        EXPECT_EQ(recorder.Ran(), (std::vector<JobKind>{JobKind::DeleteSource, JobKind::SetValue}));
        queue.Stop();
    }
}

} // namespace

} // namespace mistvale
