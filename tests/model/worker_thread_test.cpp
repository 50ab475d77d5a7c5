// The worker thread: started, asked to stop, waited for.
#include "model/worker_thread.h"
#include "model_test_support.h"

#include <gtest/gtest.h>

#include <atomic>

namespace mistvale {

namespace {

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
