// Publishing to a real Mosquitto broker started by the test: retained values and a broker that goes
// away and comes back.
#include "mqtt/mqtt_publisher.h"
#include "mqtt/mqtt_topics.h"
#include "tests/support/child_process.h"
#include "tests/support/mosquitto_broker.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_dir.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>
#include <mosquitto.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

namespace mistvale {

namespace {

using Clock = std::chrono::steady_clock;

using Clock = std::chrono::steady_clock;

template <typename Condition> bool WaitFor(Condition condition, double seconds) {
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// A dashboard's view of the broker: the last payload of every topic under mistvale/, and whether it
// came retained.
class Watcher {
public:
    explicit Watcher(int port) {
        mosquitto_lib_init();
        client_ = mosquitto_new(nullptr, true, this);
        mosquitto_message_callback_set(
            client_,
            [](mosquitto*, void* self, const mosquitto_message* m) {
                auto* watcher = static_cast<Watcher*>(self);
                std::lock_guard<std::mutex> guard(watcher->lock_);
                watcher->last_[m->topic] =
                    std::string(static_cast<const char*>(m->payload), static_cast<size_t>(m->payloadlen));
                watcher->retained_[m->topic] = m->retain;
                ++watcher->count_;
            });
        mosquitto_connect_callback_set(client_, [](mosquitto* client, void*, int) {
            mosquitto_subscribe(client, nullptr, "mistvale/#", 1);
        });
        mosquitto_reconnect_delay_set(client_, 1, 1, false);
        mosquitto_connect(client_, "127.0.0.1", port, 30);
        mosquitto_loop_start(client_);
    }
    ~Watcher() {
        mosquitto_disconnect(client_);
        mosquitto_loop_stop(client_, true);
        mosquitto_destroy(client_);
    }
    std::string Last(const std::string& topic) {
        std::lock_guard<std::mutex> guard(lock_);
        auto found = last_.find(topic);
        return found == last_.end() ? std::string("<none>") : found->second;
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
    int count_ = 0;
};

// Values held while the broker is away are one per topic, and the newest of each reaches the broker
// when it is back; what a dashboard sees is retained.
TEST(MqttPublisher, ABrokerThatGoesAwayGetsTheNewestValuesWhenBack) {
    MosquittoBroker broker;
    ASSERT_TRUE(broker.Start());
    MqttPublisher publisher;
    MqttSettings settings;
    settings.url = broker.Url();
    settings.clientId = "mistvale-test-publisher";
    std::mutex logLock;
    std::vector<std::string> log;
    std::string why;
    ASSERT_TRUE(publisher.Start(
        settings,
        [&](const std::string& line) {
            std::lock_guard<std::mutex> guard(logLock);
            log.push_back(line);
        },
        nullptr, &why))
        << why;
    const int a = 0, b = 0;
    publisher.SetTopics({{&a, "mistvale/G/a"}, {&b, "mistvale/G/b"}});
    ASSERT_TRUE(WaitFor([&] { return publisher.CurrentState() == MqttPublisher::State::Connected; }, 10));
    publisher.Publish(&a, "", "first");
    {
        Watcher later(broker.Port()); // connects after the value was sent: sees it retained
        ASSERT_TRUE(later.WaitForLast("mistvale/G/a", "first"));
        EXPECT_TRUE(later.Retained("mistvale/G/a"));
        EXPECT_EQ(later.Last("mistvale/status"), "online");
    }
    broker.Stop();
    ASSERT_TRUE(WaitFor([&] { return publisher.CurrentState() == MqttPublisher::State::Lost; }, 10));
    for (int i = 0; i < 1000; ++i) {
        publisher.Publish(&a, "", "a" + std::to_string(i));
        publisher.Publish(&b, "", "b" + std::to_string(i));
    }
    EXPECT_EQ(publisher.Held(), 2u);
    ASSERT_TRUE(broker.Start(broker.Port()));
    ASSERT_TRUE(WaitFor([&] { return publisher.CurrentState() == MqttPublisher::State::Connected; }, 40));
    Watcher after(broker.Port());
    ASSERT_TRUE(after.WaitForLast("mistvale/G/a", "a999"));
    ASSERT_TRUE(after.WaitForLast("mistvale/G/b", "b999"));
    EXPECT_EQ(publisher.Held(), 0u);
    // A source that goes from the tree has its retained value cleared.
    publisher.SetTopics({{&a, "mistvale/G/a"}});
    ASSERT_TRUE(after.WaitForLast("mistvale/G/b", ""));
    publisher.Stop();
    ASSERT_TRUE(after.WaitForLast("mistvale/status", "offline"));
    std::lock_guard<std::mutex> guard(logLock);
    std::string lines;
    for (const std::string& line : log)
        lines += line + "\n";
    EXPECT_NE(lines.find(" lost: "), std::string::npos) << lines;
    EXPECT_NE(lines.find(" back: "), std::string::npos) << lines;
}

} // namespace

} // namespace mistvale
