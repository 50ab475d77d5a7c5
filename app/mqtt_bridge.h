#pragma once

#include "mqtt/mqtt_publisher.h"

#include <string>

namespace mistvale {

class Group;
class MonitorTree;
class Source;

// Between the tree and the MQTT publisher: the topics of the tree's sources, every read and write
// outcome as a payload, and "/set" messages turned into writes queued on the user-interface thread.
class MqttBridge {
public:
    explicit MqttBridge(MonitorTree& tree) : tree_(tree) {}

    // Connects (in the background) with settings; log lines go to log. False with the reason.
    bool Start(const MqttSettings& settings, MqttPublisher::LogHandler log, std::string* why);
    void Stop() { publisher_.Stop(); }
    bool IsOn() const { return publisher_.CurrentState() != MqttPublisher::State::Off; }
    MqttPublisher& Publisher() { return publisher_; }

    // The topics of the tree as it is now (user-interface thread, after every change of the tree).
    void UpdateTopics();
    // The worker's outcome handler: publishes the source's value.
    static void OnOutcome(void* context, Group& group, Source& source);

private:
    void Write(const std::string& topic, const std::string& text);

    MonitorTree& tree_;
    MqttPublisher publisher_;
};

// A client id that stays the same for one tree on one machine: "mistvale-" and a hash of the machine's
// id and the tree's path.
std::string StableClientId(const std::string& treePath);

} // namespace mistvale
