#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

struct mosquitto;
struct mosquitto_message;

namespace mistvale {

// Where and how to publish: "mqtt://[user[:password]@]host[:port]" (port 1883) or "mqtts://..." (TLS,
// port 8883, checked against caFile or the system's CA store).
struct MqttSettings {
    std::string url;
    std::string prefix = "mistvale";
    std::string caFile;
    std::string clientId;
    std::string password; // used when the address names none (MISTVALE_MQTT_PASSWORD)
    bool writes = false;  // "<topic>/set" messages write the source
};

struct MqttAddress {
    bool tls = false;
    std::string host;
    int port = 1883;
    std::string user;
    std::string password;
};

// False with the reason for an address that is not mqtt:// or mqtts:// with a host and a port 1 to 65535.
bool ParseMqttUrl(const std::string& url, MqttAddress* out, std::string* why);

// Publishes every value to a broker, QoS 1 and retained, from any thread. The library's own thread
// keeps the connection and reconnects with back-off (1 s doubling to 30 s). While the broker is away
// nothing is handed to the library: the newest payload of each topic is held (one per topic, so
// nothing grows) and sent when it is back. "<prefix>/status" is "online" while connected and
// "offline" as the broker's last will and at Stop.
class MqttPublisher {
public:
    enum class State { Off, Connecting, Connected, Lost };
    static constexpr size_t kMaxQueued = 100000;
    using LogHandler = std::function<void(const std::string& line)>;
    // A "/set" message: the source's topic and the text to write (the library's thread).
    using WriteHandler = std::function<void(const std::string& topic, const std::string& text)>;

    MqttPublisher() = default;
    ~MqttPublisher();
    MqttPublisher(const MqttPublisher&) = delete;
    MqttPublisher& operator=(const MqttPublisher&) = delete;

    bool Start(const MqttSettings& settings, LogHandler log, WriteHandler write, std::string* why);
    // Says "offline", waits up to a second for the broker to take it, and disconnects.
    void Stop();

    // The topics of the tree's sources now; topics no longer used get their retained value cleared.
    void SetTopics(std::unordered_map<const void*, std::string> topics);
    // The topic of a source (empty when unknown).
    std::string TopicOf(const void* source) const;
    // Publishes payload on the source's topic (or fallbackTopic for one not yet known).
    void Publish(const void* source, const std::string& fallbackTopic, const std::string& payload);
    // A value to publish as its JSON payload; the payload is made on the publisher's own thread, so a
    // line's thread only hands over the value's pieces.
    struct Value {
        const void* source = nullptr;
        std::string fallbackTopic;
        std::string text;
        bool failed = false;
        std::string reason;
        int64_t atMs = 0;
    };
    // False, and nothing queued, for a source without a topic when value has no fallback topic.
    bool PublishValue(Value& value);
    // Values that the publisher's thread collects itself, in their turn among the values handed over:
    // a line then spends no time on copying them. collect is called once at most, on that thread,
    // without the publisher's lock, and is destroyed right after (or unused when publishing stops).
    using Collector = std::function<void(std::vector<Value>& out)>;
    void PublishCollected(Collector collect);
    // The positions, from first on, of the values whose source has no topic (one look under the lock).
    std::vector<size_t> WithoutTopic(const std::vector<Value>& values, size_t first) const;

    State CurrentState() const { return state_.load(); }
    const std::string& Prefix() const { return settings_.prefix; }
    size_t Held() const;

private:
    static void OnConnect(mosquitto*, void* self, int rc);
    static void OnDisconnect(mosquitto*, void* self, int rc);
    static void OnPublish(mosquitto*, void* self, int mid);
    static void OnMessage(mosquitto*, void* self, const mosquitto_message* message);
    static void OnLibraryLog(mosquitto*, void* self, int level, const char* text);
    void Send(const std::string& topic, const std::string& payload);
    void SenderLoop();
    struct Queued;
    void Queue(Queued&& item); // lock_ held
    // Sends or holds one payload (lock_ held).
    void Deliver(const void* source, const std::string& fallbackTopic, const std::string& payload);
    void Log(const std::string& line) const;

    MqttSettings settings_;
    MqttAddress address_;
    LogHandler log_;
    WriteHandler write_;
    mosquitto* client_ = nullptr;
    std::atomic<State> state_{State::Off};
    std::atomic<uint64_t> published_{0};
    bool everConnected_ = false;         // the library's thread
    std::set<std::string> failuresSaid_; // the library's thread: reasons logged since the last connect

    mutable std::mutex lock_;
    std::unordered_map<const void*, std::string> topics_; // guarded by lock_
    std::map<std::string, std::string> held_;             // guarded by lock_: newest payload per topic
    size_t heldSinceLost_ = 0;                            // guarded by lock_
    std::condition_variable publishedCv_;
    struct Queued {
        Value value;
        Collector collect; // set for values the sender collects itself
    };
    std::vector<Queued> queued_; // guarded by lock_: values waiting for the sender thread
    bool stopping_ = false;      // guarded by lock_
    bool senderAsleep_ = false;  // guarded by lock_: the sender waits to be woken by the next value
    std::condition_variable wake_;
    std::thread sender_;
    int offlineMid_ = -1;      // guarded by lock_
    bool offlineSent_ = false; // guarded by lock_
};

} // namespace mistvale
