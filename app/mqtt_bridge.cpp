#include "app/mqtt_bridge.h"

#include "model/group.h"
#include "model/locked_list.h"
#include "model/monitor_tree.h"
#include "model/source.h"
#include "mqtt/mqtt_topics.h"

#include <QSysInfo>

#include <cstdio>
#include <memory>
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

MqttPublisher::Value MqttBridge::ValueOf(Source& source) {
    MqttPublisher::Value value;
    value.source = &source;
    source.CopyValueAndOutcome(&value.text, &value.failed, &value.reason, &value.atMs);
    return value;
}

std::string MqttBridge::FallbackTopic(Group& group, Source& source) const {
    // A source added since the topics were last made is published under its own names meanwhile.
    return publisher_.Prefix() + '/' + TopicLevel(group.Name().ToUtf8()) + '/' +
           TopicLevel(source.Name().ToUtf8());
}

void MqttBridge::OnOutcome(void* context, Group& group, Source& source) {
    auto* self = static_cast<MqttBridge*>(context);
    if (!self->IsOn())
        return;
    // Only the value's pieces are taken here, on the line's thread; the payload is made by the
    // publisher's own thread.
    MqttPublisher::Value value = ValueOf(source);
    if (self->publisher_.PublishValue(value))
        return;
    value.fallbackTopic = self->FallbackTopic(group, source);
    self->publisher_.PublishValue(value);
}

void MqttBridge::OnPassOutcome(void* context, Group& group, Source* const* sources, std::size_t count) {
    auto* self = static_cast<MqttBridge*>(context);
    if (!self->IsOn())
        return;
    // A group being removed is not kept waiting: its values are handed over now, one by one.
    if (!self->tree_.PinGroup(&group)) {
        for (std::size_t i = 0; i < count; ++i)
            OnOutcome(context, group, *sources[i]);
        return;
    }
    // The pin goes with the collector: released once the values are copied, or when publishing
    // stopped before they were.
    struct Held {
        MonitorTree& tree;
        Group& group;
        std::vector<Source*> sources;
        Held(MonitorTree& t, Group& g, Source* const* s, std::size_t n)
            : tree(t), group(g), sources(s, s + n) {}
        ~Held() { tree.UnpinGroup(&group); }
        Held(const Held&) = delete;
        Held& operator=(const Held&) = delete;
    };
    auto held = std::make_shared<Held>(self->tree_, group, sources, count);
    self->publisher_.PublishCollected([self, held](std::vector<MqttPublisher::Value>& out) {
        self->CollectPass(held->group, held->sources, out);
    });
}

void MqttBridge::CollectPass(Group& group, const std::vector<Source*>& sources,
                             std::vector<MqttPublisher::Value>& out) {
    const size_t first = out.size();
    out.reserve(first + sources.size());
    for (Source* source : sources)
        out.push_back(ValueOf(*source));
    for (const size_t i : publisher_.WithoutTopic(out, first))
        out[i].fallbackTopic = FallbackTopic(group, *sources[i - first]);
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
