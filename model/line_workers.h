#pragma once

#include "model/worker_thread.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace mistvale {

// One thread for each line (a serial port, or one TCP host and port), each running its own tasks in
// the order they came. A silent or slow device then delays only the work of its own line, and two
// tasks of one line never overlap. Lines are made when their first task comes and live until Stop.
class LineWorkers {
public:
    using Task = std::function<void()>;

    LineWorkers() = default;
    ~LineWorkers(); // stops without a pump
    LineWorkers(const LineWorkers&) = delete;
    LineWorkers& operator=(const LineWorkers&) = delete;

    // Runs task on the line's thread after what is already queued there. 0 once stopping (the task is
    // then dropped unrun) or when no thread could be made.
    int Submit(const std::string& line, Task task);
    // Like Submit for a refresh pass, but when a pass of that line waits and has not started yet the
    // new one is dropped and the result is still 1: the waiting pass reads fresh values anyway.
    int SubmitPass(const std::string& line, Task pass);
    // Runs task on the line's thread and waits for it to end. 0 when it did not run (stopping).
    int Run(const std::string& line, Task task);

    // Asks every line to stop: tasks look at Stopping between requests, waiting tasks are dropped.
    void RequestStop();
    [[nodiscard]] bool Stopping() const { return stopping_.load(); }
    const std::atomic<bool>& StopFlag() const { return stopping_; }
    // Requests the stop and waits for every thread to end, calling pump meanwhile.
    void Stop(PumpHandler pump = nullptr, void* pumpContext = nullptr);

    // Tasks waiting or running over all lines.
    [[nodiscard]] std::size_t Busy() const;

private:
    struct Line {
        std::deque<Task> tasks;
        bool passWaiting = false; // a pass is queued and has not started
        std::deque<bool> isPass;  // beside tasks: which of them are passes
        bool running = false;
        std::thread thread;
    };
    int Enqueue(const std::string& line, Task task, bool pass);
    void Body(Line* line);

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::map<std::string, std::unique_ptr<Line>> lines_;
    std::atomic<bool> stopping_{false};
    std::size_t ended_ = 0; // threads whose body has returned
};

} // namespace mistvale
