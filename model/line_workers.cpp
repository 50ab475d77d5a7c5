#include "model/line_workers.h"

#include <chrono>
#include <system_error>
#include <utility>

namespace mistvale {

LineWorkers::~LineWorkers() {
    Stop();
}

int LineWorkers::Enqueue(const std::string& name, Task task, bool pass) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_.load())
        return 0;
    auto found = lines_.find(name);
    if (found == lines_.end()) {
        auto line = std::make_unique<Line>();
        try {
            line->thread = std::thread(&LineWorkers::Body, this, line.get());
        } catch (const std::system_error&) {
            return 0;
        }
        found = lines_.emplace(name, std::move(line)).first;
    }
    Line& line = *found->second;
    if (pass) {
        if (line.passWaiting)
            return 1;
        line.passWaiting = true;
    }
    line.tasks.push_back(std::move(task));
    line.isPass.push_back(pass);
    wake_.notify_all();
    return 1;
}

int LineWorkers::Submit(const std::string& line, Task task) {
    return Enqueue(line, std::move(task), false);
}

int LineWorkers::SubmitPass(const std::string& line, Task pass) {
    return Enqueue(line, std::move(pass), true);
}

int LineWorkers::Run(const std::string& line, Task task) {
    // The state outlives both sides: a task dropped at a stop still says that it will never run.
    struct State {
        std::mutex mutex;
        std::condition_variable cv;
        bool ended = false;
        bool ran = false;
    };
    auto state = std::make_shared<State>();
    struct Notifier {
        explicit Notifier(std::shared_ptr<State> s) : state(std::move(s)) {}
        Notifier(const Notifier&) = delete;
        Notifier& operator=(const Notifier&) = delete;
        std::shared_ptr<State> state;
        ~Notifier() {
            std::lock_guard<std::mutex> lock(state->mutex);
            state->ended = true;
            state->cv.notify_all();
        }
    };
    auto notifier = std::make_shared<Notifier>(state);
    const int queued = Submit(line, [task = std::move(task), notifier, state] {
        task();
        std::lock_guard<std::mutex> lock(state->mutex);
        state->ran = true;
    });
    notifier.reset();
    if (!queued)
        return 0;
    std::unique_lock<std::mutex> lock(state->mutex);
    state->cv.wait(lock, [&] { return state->ended; });
    return state->ran ? 1 : 0;
}

void LineWorkers::Body(Line* line) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stopping_.load() || !line->tasks.empty(); });
        if (stopping_.load())
            break;
        Task task = std::move(line->tasks.front());
        if (line->isPass.front())
            line->passWaiting = false;
        line->tasks.pop_front();
        line->isPass.pop_front();
        line->running = true;
        lock.unlock();
        task();
        task = nullptr; // whatever the task holds goes before the line counts as idle
        lock.lock();
        line->running = false;
        idle_.notify_all();
    }
    // Tasks never run after a stop; dropping them here tells their waiters so.
    std::deque<Task> dropped;
    dropped.swap(line->tasks);
    line->isPass.clear();
    ++ended_;
    idle_.notify_all();
    lock.unlock();
    dropped.clear();
}

void LineWorkers::RequestStop() {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_.store(true);
    wake_.notify_all();
}

void LineWorkers::Stop(PumpHandler pump, void* pumpContext) {
    RequestStop();
    {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            if (ended_ == lines_.size())
                break;
            if (pump == nullptr) {
                idle_.wait(lock, [&] { return ended_ == lines_.size(); });
                break;
            }
            lock.unlock();
            pump(pumpContext);
            lock.lock();
            idle_.wait_for(lock, std::chrono::milliseconds(10), [&] { return ended_ == lines_.size(); });
        }
    }
    for (auto& entry : lines_)
        if (entry.second->thread.joinable())
            entry.second->thread.join();
    if (pump != nullptr)
        pump(pumpContext); // events posted before the end are still delivered
}

std::size_t LineWorkers::Busy() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::size_t busy = 0;
    for (const auto& entry : lines_)
        busy += entry.second->tasks.size() + (entry.second->running ? 1 : 0);
    return busy;
}

} // namespace mistvale
