#include "mqtt/mqtt_publisher.h"

#include "mqtt/mqtt_topics.h"

#include <mosquitto.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>

namespace mistvale {

namespace {

constexpr int kQos = 1;
constexpr int kKeepAliveSeconds = 30;
constexpr size_t kBatchValues = 2000;
constexpr int kBatchMs = 50;
constexpr size_t kDeliverChunk = 64;
// The sender looks for values on its own while they keep coming; after this long without any it
// sleeps until the next one wakes it.
constexpr auto kSenderIdle = std::chrono::seconds(5);

void InitLibraryOnce() {
    static const int done = [] {
        mosquitto_lib_init();
        return 1;
    }();
    (void)done;
}

} // namespace

bool ParseMqttUrl(const std::string& url, MqttAddress* out, std::string* why) {
    MqttAddress address;
    std::string rest;
    if (url.rfind("mqtt://", 0) == 0) {
        rest = url.substr(7);
    } else if (url.rfind("mqtts://", 0) == 0) {
        rest = url.substr(8);
        address.tls = true;
        address.port = 8883;
    } else {
        *why = "The broker address must start with mqtt:// or mqtts://";
        return false;
    }
    if (const size_t slash = rest.find('/'); slash != std::string::npos)
        rest.resize(slash);
    if (const size_t at = rest.rfind('@'); at != std::string::npos) {
        const std::string credentials = rest.substr(0, at);
        rest = rest.substr(at + 1);
        const size_t colon = credentials.find(':');
        address.user = credentials.substr(0, colon);
        if (colon != std::string::npos)
            address.password = credentials.substr(colon + 1);
    }
    std::string port;
    if (!rest.empty() && rest[0] == '[') { // [IPv6]:port
        const size_t close = rest.find(']');
        if (close == std::string::npos) {
            *why = "The broker address has an unclosed [";
            return false;
        }
        address.host = rest.substr(1, close - 1);
        if (close + 1 < rest.size() && rest[close + 1] == ':')
            port = rest.substr(close + 2);
    } else {
        const size_t colon = rest.rfind(':');
        address.host = rest.substr(0, colon);
        if (colon != std::string::npos)
            port = rest.substr(colon + 1);
    }
    if (address.host.empty()) {
        *why = "The broker address names no host";
        return false;
    }
    if (!port.empty()) {
        char* end = nullptr;
        const long number = std::strtol(port.c_str(), &end, 10);
        if (*end != '\0' || number < 1 || number > 65535) {
            *why = "The broker's port must be a number from 1 to 65535";
            return false;
        }
        address.port = static_cast<int>(number);
    }
    *out = address;
    return true;
}

MqttPublisher::~MqttPublisher() {
    Stop();
}

void MqttPublisher::Log(const std::string& line) const {
    if (log_)
        log_(line);
}

bool MqttPublisher::Start(const MqttSettings& settings, LogHandler log, WriteHandler write,
                          std::string* why) {
    Stop();
    if (!ParseMqttUrl(settings.url, &address_, why))
        return false;
    if (address_.password.empty())
        address_.password = settings.password;
    settings_ = settings;
    log_ = std::move(log);
    write_ = std::move(write);
    InitLibraryOnce();
    client_ = mosquitto_new(settings_.clientId.empty() ? nullptr : settings_.clientId.c_str(), true, this);
    if (client_ == nullptr) {
        *why = "The MQTT library could not make a client";
        return false;
    }
    mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(client_, &MqttPublisher::OnConnect);
    mosquitto_disconnect_callback_set(client_, &MqttPublisher::OnDisconnect);
    mosquitto_publish_callback_set(client_, &MqttPublisher::OnPublish);
    mosquitto_message_callback_set(client_, &MqttPublisher::OnMessage);
    mosquitto_log_callback_set(client_, &MqttPublisher::OnLibraryLog);
    mosquitto_reconnect_delay_set(client_, 1, 30, true);
    if (!address_.user.empty())
        mosquitto_username_pw_set(client_, address_.user.c_str(),
                                  address_.password.empty() ? nullptr : address_.password.c_str());
    if (address_.tls) {
        const int rc = mosquitto_tls_set(
            client_, settings_.caFile.empty() ? nullptr : settings_.caFile.c_str(),
            settings_.caFile.empty() ? "/etc/ssl/certs" : nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            *why = std::string("TLS could not be set up: ") + mosquitto_strerror(rc);
            mosquitto_destroy(client_);
            client_ = nullptr;
            return false;
        }
    }
    const std::string statusTopic = settings_.prefix + "/status";
    mosquitto_will_set(client_, statusTopic.c_str(), 7, "offline", kQos, true);
    state_ = State::Connecting;
    // A broker that is not there yet is no error: the library's thread keeps trying.
    const int rc = mosquitto_connect_async(client_, address_.host.c_str(), address_.port, kKeepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS)
        Log("broker " + address_.host + ":" + std::to_string(address_.port) +
            " not reached: " + mosquitto_strerror(rc) + "; trying again");
    if (mosquitto_loop_start(client_) != MOSQ_ERR_SUCCESS) {
        *why = "The MQTT library could not start its thread";
        mosquitto_destroy(client_);
        client_ = nullptr;
        state_ = State::Off;
        return false;
    }
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = false;
    }
    sender_ = std::thread([this] { SenderLoop(); });
    return true;
}

bool MqttPublisher::PublishValue(Value& value) {
    std::lock_guard<std::mutex> guard(lock_);
    if (client_ == nullptr || stopping_)
        return true;
    if (value.fallbackTopic.empty() && topics_.count(value.source) == 0)
        return false;
    Queue(Queued{std::move(value), nullptr});
    return true;
}

void MqttPublisher::PublishCollected(Collector collect) {
    std::lock_guard<std::mutex> guard(lock_);
    // When publishing has stopped, collect lets go of what it holds as the caller drops it.
    if (client_ != nullptr && !stopping_)
        Queue(Queued{Value(), std::move(collect)});
}

std::vector<size_t> MqttPublisher::WithoutTopic(const std::vector<Value>& values, size_t first) const {
    std::vector<size_t> unknown;
    std::lock_guard<std::mutex> guard(lock_);
    for (size_t i = first; i < values.size(); ++i)
        if (topics_.count(values[i].source) == 0)
            unknown.push_back(i);
    return unknown;
}

void MqttPublisher::Queue(Queued&& item) {
    // Bounded like the held values: a sender that cannot keep up keeps only the newest.
    if (queued_.size() >= kMaxQueued)
        queued_.erase(queued_.begin(), queued_.begin() + static_cast<std::ptrdiff_t>(queued_.size() / 2));
    queued_.push_back(std::move(item));
    // The sender takes values in batches (at the latest kBatchMs after the first), so that it does
    // not contend with a pass for every value; while values keep coming it looks every kBatchMs
    // without being woken, which would cost a line a system call and a thread switch every pass.
    if ((senderAsleep_ && queued_.size() == 1) || queued_.size() == kBatchValues)
        wake_.notify_one();
}

void MqttPublisher::SenderLoop() {
    std::vector<Queued> batch;
    std::vector<Value> values;
    std::vector<std::string> payloads;
    auto lastBatch = std::chrono::steady_clock::now();
    for (;;) {
        {
            std::unique_lock<std::mutex> guard(lock_);
            while (!stopping_ && queued_.size() < kBatchValues) {
                if (queued_.empty() && std::chrono::steady_clock::now() - lastBatch >= kSenderIdle) {
                    senderAsleep_ = true;
                    wake_.wait(guard, [this] { return stopping_ || !queued_.empty(); });
                    senderAsleep_ = false;
                }
                wake_.wait_for(guard, std::chrono::milliseconds(kBatchMs),
                               [this] { return stopping_ || queued_.size() >= kBatchValues; });
                if (!queued_.empty())
                    break;
            }
            if (stopping_ && queued_.empty())
                return;
            batch.swap(queued_);
        }
        lastBatch = std::chrono::steady_clock::now();
        // Values are collected and payloads made without the lock; only handing them over takes it.
        values.clear();
        for (Queued& item : batch) {
            if (item.collect) {
                item.collect(values);
                item.collect = nullptr;
            } else {
                values.push_back(std::move(item.value));
            }
        }
        batch.clear();
        payloads.clear();
        for (const Value& value : values)
            payloads.push_back(ValuePayload(value.text, value.failed, value.reason, value.atMs));
        // A few at a time: a line handing over its values waits for one chunk at most, not for a
        // thousand messages going to the library (about a third of a millisecond).
        for (size_t first = 0; first < values.size(); first += kDeliverChunk) {
            std::lock_guard<std::mutex> guard(lock_);
            for (size_t i = first; i < std::min(values.size(), first + kDeliverChunk); ++i)
                Deliver(values[i].source, values[i].fallbackTopic, payloads[i]);
        }
    }
}

void MqttPublisher::Stop() {
    if (client_ == nullptr)
        return;
    // What the lines handed over goes out first.
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (sender_.joinable())
        sender_.join();
    bool connected = false;
    {
        std::unique_lock<std::mutex> guard(lock_);
        connected = state_.load() == State::Connected;
        if (connected) {
            offlineSent_ = false;
            const std::string statusTopic = settings_.prefix + "/status";
            int mid = -1;
            if (mosquitto_publish(client_, &mid, statusTopic.c_str(), 7, "offline", kQos, true) ==
                MOSQ_ERR_SUCCESS) {
                offlineMid_ = mid;
                publishedCv_.wait_for(guard, std::chrono::seconds(1), [this] { return offlineSent_; });
            }
        }
        state_ = State::Off;
    }
    mosquitto_disconnect(client_);
    mosquitto_loop_stop(client_, !connected);
    mosquitto_destroy(client_);
    client_ = nullptr;
    std::lock_guard<std::mutex> guard(lock_);
    held_.clear();
}

void MqttPublisher::OnConnect(mosquitto*, void* context, int rc) {
    auto* self = static_cast<MqttPublisher*>(context);
    if (rc != 0) {
        self->Log("broker " + self->address_.host +
                  " refused the connection: " + mosquitto_connack_string(rc));
        return;
    }
    const std::string statusTopic = self->settings_.prefix + "/status";
    const std::string setTopics = self->settings_.prefix + "/+/+/set";
    mosquitto_subscribe(self->client_, nullptr, setTopics.c_str(), kQos);
    std::map<std::string, std::string> held;
    size_t heldCount = 0;
    {
        std::lock_guard<std::mutex> guard(self->lock_);
        if (self->state_.load() == State::Off)
            return;
        self->state_ = State::Connected;
        mosquitto_publish(self->client_, nullptr, statusTopic.c_str(), 6, "online", kQos, true);
        held.swap(self->held_);
        heldCount = self->heldSinceLost_;
        self->heldSinceLost_ = 0;
        // The newest value of each source, before anything newer can be sent.
        for (const auto& [topic, payload] : held)
            self->Send(topic, payload);
    }
    const std::string where = self->address_.host + ":" + std::to_string(self->address_.port);
    if (!self->everConnected_)
        self->Log("broker " + where + " connected");
    else
        self->Log("broker " + where + " back: " + std::to_string(held.size()) + " values sent of " +
                  std::to_string(heldCount) + " held while it was away");
    self->everConnected_ = true;
    self->failuresSaid_.clear();
}

void MqttPublisher::OnLibraryLog(mosquitto*, void* context, int level, const char* text) {
    auto* self = static_cast<MqttPublisher*>(context);
    // A connection that fails before the broker answers (a certificate not trusted, say) calls no
    // other handler; each of its reasons is said once until a connection succeeds (the library
    // retries for ever, and may give more than one line for each attempt).
    constexpr size_t kMaxReasons = 16;
    if ((level & MOSQ_LOG_ERR) == 0 || text == nullptr || self->state_.load() == State::Connected ||
        self->state_.load() == State::Off || self->failuresSaid_.size() >= kMaxReasons ||
        !self->failuresSaid_.insert(text).second)
        return;
    self->Log("broker " + self->address_.host + ":" + std::to_string(self->address_.port) +
              " not reached: " + text + "; trying again");
}

void MqttPublisher::OnDisconnect(mosquitto*, void* context, int rc) {
    auto* self = static_cast<MqttPublisher*>(context);
    {
        std::lock_guard<std::mutex> guard(self->lock_);
        if (self->state_.load() == State::Off)
            return;
        self->state_ = State::Lost;
    }
    self->Log("broker " + self->address_.host + ":" + std::to_string(self->address_.port) +
              " lost: " + (rc == 0 ? std::string("disconnected") : mosquitto_strerror(rc)) +
              "; values are held until it is back");
}

void MqttPublisher::OnPublish(mosquitto*, void* context, int mid) {
    auto* self = static_cast<MqttPublisher*>(context);
    std::lock_guard<std::mutex> guard(self->lock_);
    if (mid == self->offlineMid_) {
        self->offlineSent_ = true;
        self->publishedCv_.notify_all();
    }
}

void MqttPublisher::OnMessage(mosquitto*, void* context, const mosquitto_message* message) {
    auto* self = static_cast<MqttPublisher*>(context);
    const std::string topic = message->topic != nullptr ? message->topic : "";
    const std::string text(static_cast<const char*>(message->payload),
                           message->payload != nullptr ? static_cast<size_t>(message->payloadlen) : 0);
    constexpr const char* kSet = "/set";
    if (topic.size() < 4 || topic.compare(topic.size() - 4, 4, kSet) != 0)
        return;
    const std::string source = topic.substr(0, topic.size() - 4);
    if (!self->settings_.writes) {
        self->Log("write to " + source + " refused: started without --mqtt-writes");
        return;
    }
    if (self->write_)
        self->write_(source, text);
}

void MqttPublisher::Send(const std::string& topic, const std::string& payload) {
    if (mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(),
                          kQos, true) == MOSQ_ERR_SUCCESS)
        published_.fetch_add(1, std::memory_order_relaxed);
}

void MqttPublisher::SetTopics(std::unordered_map<const void*, std::string> topics) {
    std::lock_guard<std::mutex> guard(lock_);
    std::unordered_map<std::string, int> used;
    for (const auto& [source, topic] : topics)
        ++used[topic];
    for (const auto& [source, topic] : topics_) {
        if (used.count(topic) != 0)
            continue;
        // A source deleted or renamed: its retained value goes, so that dashboards do not show it on.
        if (state_.load() == State::Connected)
            mosquitto_publish(client_, nullptr, topic.c_str(), 0, nullptr, kQos, true);
        else if (client_ != nullptr)
            held_[topic] = std::string();
        used[topic] = 1; // cleared once
    }
    topics_ = std::move(topics);
}

std::string MqttPublisher::TopicOf(const void* source) const {
    std::lock_guard<std::mutex> guard(lock_);
    auto found = topics_.find(source);
    return found == topics_.end() ? std::string() : found->second;
}

void MqttPublisher::Publish(const void* source, const std::string& fallbackTopic,
                            const std::string& payload) {
    std::lock_guard<std::mutex> guard(lock_);
    Deliver(source, fallbackTopic, payload);
}

void MqttPublisher::Deliver(const void* source, const std::string& fallbackTopic,
                            const std::string& payload) {
    if (client_ == nullptr)
        return;
    auto found = topics_.find(source);
    const std::string& topic = found == topics_.end() ? fallbackTopic : found->second;
    if (topic.empty())
        return; // its source left the tree after the value was taken: the topic is cleared already
    if (state_.load() == State::Connected) {
        Send(topic, payload);
        return;
    }
    held_[topic] = payload;
    ++heldSinceLost_;
}

size_t MqttPublisher::Held() const {
    std::lock_guard<std::mutex> guard(lock_);
    return held_.size();
}

} // namespace mistvale
