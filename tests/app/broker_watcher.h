#pragma once
// What a dashboard sees of the test's Mosquitto broker: the last payload of every topic under
// mistvale/ and whether it came retained; and a bounded wait for a condition.
#include <mosquitto.h>

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace mistvale {

template <typename Condition> inline bool WaitFor(Condition condition, double seconds) {
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

class BrokerWatcher {
public:
    explicit BrokerWatcher(int port) {
        mosquitto_lib_init();
        client_ = mosquitto_new(nullptr, true, this);
        mosquitto_message_callback_set(
            client_,
            [](mosquitto*, void* self, const mosquitto_message* m) {
                auto* watcher = static_cast<BrokerWatcher*>(self);
                std::lock_guard<std::mutex> guard(watcher->lock_);
                watcher->last_[m->topic] =
                    std::string(static_cast<const char*>(m->payload), static_cast<size_t>(m->payloadlen));
                watcher->retained_[m->topic] = m->retain;
                watcher->seen_[m->topic].push_back(watcher->last_[m->topic]);
                ++watcher->count_;
            });
        mosquitto_connect_callback_set(client_, [](mosquitto* client, void*, int) {
            mosquitto_subscribe(client, nullptr, "mistvale/#", 1);
        });
        mosquitto_reconnect_delay_set(client_, 1, 1, false);
        mosquitto_connect(client_, "127.0.0.1", port, 30);
        mosquitto_loop_start(client_);
    }
    ~BrokerWatcher() {
        mosquitto_disconnect(client_);
        mosquitto_loop_stop(client_, true);
        mosquitto_destroy(client_);
    }
    std::string Last(const std::string& topic) {
        std::lock_guard<std::mutex> guard(lock_);
        auto found = last_.find(topic);
        return found == last_.end() ? std::string("<none>") : found->second;
    }
    // Every payload of the topic, in the order they came.
    std::vector<std::string> Seen(const std::string& topic) {
        std::lock_guard<std::mutex> guard(lock_);
        return seen_[topic];
    }
    bool Retained(const std::string& topic) {
        std::lock_guard<std::mutex> guard(lock_);
        return retained_[topic];
    }
    bool WaitForLast(const std::string& topic, const std::string& prefix, double seconds = 10) {
        return WaitFor([&] { return Last(topic).rfind(prefix, 0) == 0; }, seconds);
    }
    void Send(const std::string& topic, const std::string& payload) {
        mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(),
                          1, false);
    }

private:
    mosquitto* client_ = nullptr;
    std::mutex lock_;
    std::map<std::string, std::string> last_;
    std::map<std::string, bool> retained_;
    std::map<std::string, std::vector<std::string>> seen_;
    int count_ = 0;
};

} // namespace mistvale
