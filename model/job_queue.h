#pragma once

#include "model/locked_list.h"
#include "model/worker_job.h"
#include "model/worker_thread.h"

#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace mistvale {

// Notification codes of the job handler.
enum {
    kJobNotifyStart = 0, // once before the first wait; a result of 0 ends the thread at once
    kJobNotifyRun = 1,   // for each job; a result of 0 leaves the job at the head and waits again
    kJobNotifyEnd = 2,   // once when the loop ends
};

// Called on the worker thread; job is nullptr for codes 0 and 2.
typedef int (*JobHandler)(int code, WorkerJob* job, void* context);

// First-in, first-out queue of WorkerJobs run one at a time by its own WorkerThread.
class JobQueue {
public:
    JobQueue();
    ~JobQueue(); // stops the worker (without a pump) if still running
    JobQueue(const JobQueue&) = delete;
    JobQueue& operator=(const JobQueue&) = delete;

    // Stores handler and context and starts the worker; 1 when the thread was created. A stopped
    // queue is not started again.
    int Start(JobHandler handler, void* context);
    // Appends the job at the tail and wakes the worker; 1 when queued (the queue then owns the job),
    // 0 for nullptr or when the worker is not running (the caller deletes the job).
    int Queue(WorkerJob* job);
    // Like Queue, but when a job of the same kind is already waiting and has not started yet, the
    // new job is deleted instead and the result is 1: the waiting job does the same work. A job that
    // is running does not count. Keeps slow devices from piling up refresh passes without bound.
    int QueueUnlessWaiting(WorkerJob* job);
    // Stops the worker: the running job finishes, later jobs are discarded. Calls pump while waiting.
    // Afterwards Queue refuses every job.
    void Stop(PumpHandler pump = nullptr, void* pumpContext = nullptr);

    int IsRunning() const;
    // 1 once Stop has asked the worker to end (a long job may end early then).
    int StopRequested() const;
    [[nodiscard]] std::size_t Count() const; // jobs in the list, the running one included

private:
    static void ThreadBody(void* argument);
    int Enqueue(ListItem* item);
    void Wake();
    int WaitForWake(); // auto-reset wake-up event

    LockedList jobs_;
    JobHandler handler_ = nullptr;
    void* context_ = nullptr;
    WorkerThread thread_;
    std::mutex wakeMutex_;
    std::condition_variable wakeCv_;
    bool wake_ = false;
    bool stopped_ = false;              // guarded by the exclusive lock of jobs_
    const ListItem* started_ = nullptr; // job being run by the worker; guarded by the lock of jobs_
};

} // namespace mistvale
