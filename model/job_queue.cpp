#include "model/job_queue.h"

#include <new>

namespace mistvale {

JobQueue::JobQueue() = default;

JobQueue::~JobQueue() {
    Stop();
}

int JobQueue::Start(JobHandler handler, void* context) {
    {
        ExclusiveLock lock(jobs_);
        if (stopped_ || thread_.IsRunning())
            return 0;
        handler_ = handler;
        context_ = context;
    }
    {
        std::lock_guard<std::mutex> guard(wakeMutex_);
        wake_ = false;
    }
    return thread_.Start(&JobQueue::ThreadBody, this);
}

int JobQueue::IsRunning() const {
    return thread_.IsRunning();
}

int JobQueue::StopRequested() const {
    return thread_.StopRequested();
}

std::size_t JobQueue::Count() const {
    return jobs_.Count();
}

int JobQueue::Enqueue(ListItem* item) {
    if (item == nullptr)
        return 0;
    {
        ExclusiveLock lock(jobs_);
        if (stopped_ || !thread_.IsRunning())
            return 0;
        jobs_.Append(item);
    }
    Wake();
    return 1;
}

int JobQueue::Queue(WorkerJob* job) {
    return Enqueue(job);
}

int JobQueue::QueueUnlessWaiting(WorkerJob* job) {
    if (job == nullptr)
        return 0;
    {
        ExclusiveLock lock(jobs_);
        if (stopped_ || !thread_.IsRunning())
            return 0;
        for (ListItem* item = jobs_.First(); item != nullptr; item = item->Next()) {
            if (item == started_)
                continue; // already reading: its values may be older than this request
            WorkerJob* waiting = dynamic_cast<WorkerJob*>(item);
            if (waiting != nullptr && waiting->Kind() == job->Kind()) {
                delete job;
                return 1;
            }
        }
        jobs_.Append(job);
    }
    Wake();
    return 1;
}

void JobQueue::Wake() {
    std::lock_guard<std::mutex> guard(wakeMutex_);
    wake_ = true;
    wakeCv_.notify_one();
}

int JobQueue::WaitForWake() {
    std::unique_lock<std::mutex> guard(wakeMutex_);
    wakeCv_.wait(guard, [this] { return wake_; });
    wake_ = false; // auto-reset
    return 1;
}

void JobQueue::ThreadBody(void* argument) {
    JobQueue* self = static_cast<JobQueue*>(argument);
    JobHandler handler = nullptr;
    void* context = nullptr;
    {
        SharedLock lock(self->jobs_);
        handler = self->handler_;
        context = self->context_;
    }
    if (handler != nullptr && handler(kJobNotifyStart, nullptr, context) == 0)
        return;
    while (!self->thread_.StopRequested()) {
        if (!self->WaitForWake())
            break;
        for (;;) {
            if (self->thread_.StopRequested())
                break;
            ListItem* item = nullptr;
            {
                ExclusiveLock lock(self->jobs_);
                item = self->jobs_.First();
                self->started_ = item;
            }
            if (item == nullptr)
                break;
            // The job stays at the head while it runs; jobs queued meanwhile wait behind it.
            WorkerJob* job = dynamic_cast<WorkerJob*>(item);
            int done = 1;
            if (job != nullptr && handler != nullptr)
                done = handler(kJobNotifyRun, job, context);
            {
                ExclusiveLock lock(self->jobs_);
                self->started_ = nullptr;
                if (done != 0)
                    self->jobs_.Unlink(item);
            }
            if (done == 0)
                break; // left at the head; wait for the next wake-up
            delete item;
        }
    }
    if (handler != nullptr)
        handler(kJobNotifyEnd, nullptr, context);
}

void JobQueue::Stop(PumpHandler pump, void* pumpContext) {
    {
        ExclusiveLock lock(jobs_);
        if (stopped_)
            return;
        // From here on every job is refused; the ones already waiting are discarded below.
        stopped_ = true;
        if (thread_.IsRunning()) {
            // A bare item only wakes the worker, which sees the stop request before running anything.
            thread_.RequestStop();
            ListItem* stopJob = new (std::nothrow) ListItem();
            if (stopJob != nullptr)
                jobs_.Append(stopJob);
        }
    }
    Wake(); // also when the stop job could not be made
    thread_.WaitForEnd(pump, pumpContext);
    jobs_.DeleteAll(); // jobs queued before the stop that had not started never run
}

} // namespace mistvale
