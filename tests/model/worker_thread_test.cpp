#include "model/job_queue.h"
#include "model_test_support.h"

#include <atomic>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>

namespace mistvale {

namespace {

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

TEST(WorkerThread, StartStopAndWait) {
    WorkerThread thread;
    std::atomic<int> loops{0};
    struct Context {
        WorkerThread* thread;
        std::atomic<int>* loops;
    } context{&thread, &loops};
    EXPECT_EQ(thread.StopRequested(), 0);
    thread.RequestStop(); // not running: no effect on the next run
    ASSERT_EQ(thread.Start(
                  [](void* argument) {
                      Context& c = *static_cast<Context*>(argument);
                      while (!c.thread->StopRequested()) {
                          ++*c.loops;
                          std::this_thread::sleep_for(std::chrono::milliseconds(1));
                      }
                  },
                  &context),
              1);
    ASSERT_TRUE(WaitUntil([&] { return loops.load() > 2; }));
    EXPECT_EQ(thread.IsRunning(), 1);
    EXPECT_EQ(thread.Start([](void*) {}, nullptr), 0); // already running
    thread.RequestStop();
    thread.WaitForEnd();
    EXPECT_EQ(thread.IsRunning(), 0);
    EXPECT_EQ(thread.StopRequested(), 0); // only while running
    // An ended thread object can run again.
    std::atomic<bool> ran{false};
    ASSERT_EQ(thread.Start([](void* flag) { static_cast<std::atomic<bool>*>(flag)->store(true); }, &ran), 1);
    thread.WaitForEnd();
    EXPECT_TRUE(ran.load());
}

} // namespace

} // namespace mistvale
