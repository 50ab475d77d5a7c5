#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace mistvale {

// Called again and again while a wait runs, e.g. to dispatch window events (the desktop passes one
// that runs QCoreApplication::processEvents).
typedef void (*PumpHandler)(void* context);
// What the thread runs; it looks at StopRequested of its WorkerThread to end early.
typedef void (*ThreadEntry)(void* argument);

// The program's thread object (refresh worker, update check).
class WorkerThread {
public:
    WorkerThread();
    // A thread still running here is asked to stop and joined: ending a thread from outside would
    // leave its locks and records in an undefined state.
    ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Starts entry(argument) on a new thread; 0 when already running or the thread cannot be made.
    int Start(ThreadEntry entry, void* argument);
    // Sets the stop request, only while running.
    void RequestStop();
    // 1 when running and stop was requested.
    int StopRequested() const;
    int IsRunning() const;
    // Waits until the thread function has returned, calling pump (when given) repeatedly meanwhile
    // and once more after the end, so that events posted before the end are still delivered.
    void WaitForEnd(PumpHandler pump = nullptr, void* pumpContext = nullptr);

private:
    static void Run(WorkerThread* self, ThreadEntry entry, void* argument);
    void Join();

    std::atomic<bool> running_{false};
    std::atomic<bool> stopRequested_{false};
    std::mutex doneMutex_; // manual-reset done event
    std::condition_variable doneCv_;
    bool done_ = false;
    std::mutex joinMutex_;
    std::thread thread_;
};

} // namespace mistvale
