#include "app/mqtt_bridge.h"

#include "model/group.h"
#include "model/locked_list.h"
#include "model/monitor_tree.h"
#include "model/source.h"
#include "mqtt/mqtt_topics.h"

#include <QSysInfo>

#include <cstdio>
#include <unordered_map>
#include <utility>
#include <vector>

namespace mistvale {

bool MqttBridge::Start(const MqttSettings& settings, MqttPublisher::LogHandler log, std::string* why) {
    if (!publisher_.Start(
            settings, std::move(log),
            [this](const std::string& topic, const std::string& text) { Write(topic, text); }, why))
        return false;
    UpdateTopics();
    if (settings.writes && writesTimer_ == nullptr) {
        writesTimer_ = std::make_unique<QTimer>();
        QObject::connect(writesTimer_.get(), &QTimer::timeout, [this] { TakeWrites(); });
        writesTimer_->start(100);
    }
    return true;
}

void MqttBridge::UpdateTopics() {
    if (!IsOn())
        return;
    std::vector<const void*> sources;
    std::vector<std::pair<std::string, std::string>> names;
    {
        LockedList& groups = tree_.Groups();
        SharedLock groupsLock(groups);
        for (ListItem* g = groups.First(); g != nullptr; g = g->Next()) {
            auto* group = static_cast<Group*>(g);
            SharedLock sourcesLock(group->Sources());
            for (ListItem* s = group->Sources().First(); s != nullptr; s = s->Next()) {
                sources.push_back(static_cast<Source*>(s));
                names.emplace_back(group->Name().ToUtf8(), static_cast<Source*>(s)->Name().ToUtf8());
            }
        }
    }
    const std::vector<std::string> topics = SourceTopics(publisher_.Prefix(), names);
    std::unordered_map<const void*, std::string> bySource;
    for (size_t i = 0; i < sources.size(); ++i)
        bySource.emplace(sources[i], topics[i]);
    publisher_.SetTopics(std::move(bySource));
}

void MqttBridge::OnOutcome(void* context, Group& group, Source& source) {
    auto* self = static_cast<MqttBridge*>(context);
    if (!self->IsOn())
        return;
    // Only the value's pieces are taken here, on the line's thread; the payload is made by the
    // publisher's own thread.
    MqttPublisher::Value value;
    value.source = &source;
    source.CopyValueAndOutcome(&value.text, &value.failed, &value.reason, &value.atMs);
    if (self->publisher_.PublishValue(value))
        return;
    // A source added since the topics were last made is published under its own names meanwhile.
    value.fallbackTopic = self->publisher_.Prefix() + '/' + TopicLevel(group.Name().ToUtf8()) + '/' +
                          TopicLevel(source.Name().ToUtf8());
    self->publisher_.PublishValue(value);
}

void MqttBridge::Write(const std::string& topic, const std::string& text) {
    std::lock_guard<std::mutex> guard(writesLock_);
    writes_.emplace_back(topic, text);
}

void MqttBridge::TakeWrites() {
    std::vector<std::pair<std::string, std::string>> writes;
    {
        std::lock_guard<std::mutex> guard(writesLock_);
        writes.swap(writes_);
    }
    for (const auto& [topic, text] : writes) {
        Source* target = nullptr;
        {
            LockedList& groups = tree_.Groups();
            SharedLock groupsLock(groups);
            for (ListItem* g = groups.First(); g != nullptr && target == nullptr; g = g->Next()) {
                auto* group = static_cast<Group*>(g);
                SharedLock sourcesLock(group->Sources());
                for (ListItem* s = group->Sources().First(); s != nullptr; s = s->Next())
                    if (publisher_.TopicOf(s) == topic) {
                        target = static_cast<Source*>(s);
                        break;
                    }
            }
        }
        // As the Value dialog writes: a job on the group's line.
        if (target != nullptr)
            tree_.QueueSetValue(target, WideString::FromUtf8(text.c_str()));
    }
}

std::string StableClientId(const std::string& treePath) {
    // FNV-1a: short and the same on every run.
    uint64_t hash = 1469598103934665603ull;
    std::string key = QSysInfo::machineUniqueId().toStdString();
    key += '|';
    key += treePath;
    for (const char c : key) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    char id[40];
    std::snprintf(id, sizeof id, "mistvale-%012llx",
                  static_cast<unsigned long long>(hash & 0xFFFFFFFFFFFFull));
    return id;
}

} // namespace mistvale
