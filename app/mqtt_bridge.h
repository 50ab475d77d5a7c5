#pragma once

#include "mqtt/mqtt_publisher.h"

#include <QTimer>

#include <cstddef>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

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
    // After a group's pass: its values are copied by the publisher's thread, the group kept meanwhile.
    static void OnPassOutcome(void* context, Group& group, Source* const* sources, std::size_t count);

    // Queues the writes that came from the broker (user-interface thread; a timer of the bridge calls
    // it every 100 ms, tests may call it at once).
    void TakeWrites();

private:
    static MqttPublisher::Value ValueOf(Source& source);
    void CollectPass(Group& group, const std::vector<Source*>& sources,
                     std::vector<MqttPublisher::Value>& out);
    std::string FallbackTopic(Group& group, Source& source) const;
    void Write(const std::string& topic, const std::string& text);

    MonitorTree& tree_;
    MqttPublisher publisher_;
    // Writes from the library's thread wait here for the user-interface thread, which alone may
    // queue jobs on the tree.
    std::mutex writesLock_;
    std::vector<std::pair<std::string, std::string>> writes_; // guarded by writesLock_
    std::unique_ptr<QTimer> writesTimer_; // made at Start: the bridge may exist before the application
};

// A client id that stays the same for one tree on one machine: "mistvale-" and a hash of the machine's
// id and the tree's path.
std::string StableClientId(const std::string& treePath);

} // namespace mistvale
