#include "model/worker_thread.h"

#include "platform/crash_handler.h"

#include <chrono>
#include <system_error>

namespace mistvale {

namespace {
// How long one wait for the thread's end lasts before the pump runs again.
constexpr std::chrono::milliseconds kPumpInterval(10);
} // namespace

WorkerThread::WorkerThread() = default;

WorkerThread::~WorkerThread() {
    RequestStop();
    WaitForEnd();
}

int WorkerThread::Start(ThreadEntry entry, void* argument) {
    if (entry == nullptr || running_.load())
        return 0;
    Join(); // a thread that ended before is collected first
    {
        std::lock_guard<std::mutex> guard(doneMutex_);
        done_ = false;
    }
    stopRequested_.store(false);
    running_.store(true);
    try {
        std::lock_guard<std::mutex> guard(joinMutex_);
        thread_ = std::thread(&WorkerThread::Run, this, entry, argument);
    } catch (const std::system_error&) {
        running_.store(false);
        std::lock_guard<std::mutex> guard(doneMutex_);
        done_ = true;
        return 0;
    }
    return 1;
}

void WorkerThread::Run(WorkerThread* self, ThreadEntry entry, void* argument) {
    {
        // A fault on this thread, a stack overflow included, still reaches the crash report.
        CrashStackForThread crashStack;
        entry(argument);
    }
    self->running_.store(false);
    std::lock_guard<std::mutex> guard(self->doneMutex_);
    self->done_ = true;
    self->doneCv_.notify_all();
}

void WorkerThread::RequestStop() {
    if (running_.load())
        stopRequested_.store(true);
}

int WorkerThread::StopRequested() const {
    return running_.load() && stopRequested_.load() ? 1 : 0;
}

int WorkerThread::IsRunning() const {
    return running_.load() ? 1 : 0;
}

void WorkerThread::WaitForEnd(PumpHandler pump, void* pumpContext) {
    {
        std::lock_guard<std::mutex> guard(joinMutex_);
        // Nothing to wait for, or a wait from the thread itself, which could never end.
        if (!thread_.joinable() || thread_.get_id() == std::this_thread::get_id())
            return;
    }
    std::unique_lock<std::mutex> guard(doneMutex_);
    while (!done_) {
        if (pump == nullptr) {
            doneCv_.wait(guard);
            continue;
        }
        guard.unlock();
        pump(pumpContext);
        guard.lock();
        doneCv_.wait_for(guard, kPumpInterval, [this] { return done_; });
    }
    guard.unlock();
    Join();
    if (pump != nullptr)
        pump(pumpContext); // what the thread posted just before its end
}

void WorkerThread::Join() {
    std::lock_guard<std::mutex> guard(joinMutex_);
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
        thread_.join();
}

} // namespace mistvale
