#include "modbus/frame_capture.h"

#include <atomic>
#include <cstdio>
#include <ctime>
#include <map>
#include <mutex>
#include <shared_mutex>

namespace mistvale {

namespace {

struct Listeners {
    std::shared_mutex lock;
    std::map<int, FrameListener> byId;
    int nextId = 1;
    std::atomic<int> count{0};
};

Listeners& TheListeners() {
    static Listeners listeners;
    return listeners;
}

} // namespace

int AddFrameListener(FrameListener listener) {
    Listeners& all = TheListeners();
    std::unique_lock<std::shared_mutex> guard(all.lock);
    const int id = all.nextId++;
    all.byId.emplace(id, std::move(listener));
    all.count.store(static_cast<int>(all.byId.size()), std::memory_order_relaxed);
    return id;
}

void RemoveFrameListener(int id) {
    Listeners& all = TheListeners();
    std::unique_lock<std::shared_mutex> guard(all.lock);
    all.byId.erase(id);
    all.count.store(static_cast<int>(all.byId.size()), std::memory_order_relaxed);
}

bool FrameCaptureOn() {
    return TheListeners().count.load(std::memory_order_relaxed) != 0;
}

void PublishFrame(const FrameRecord& frame) {
    Listeners& all = TheListeners();
    std::shared_lock<std::shared_mutex> guard(all.lock);
    for (const auto& [id, listener] : all.byId)
        listener(frame);
}

int FrameSlave(const FrameRecord& frame) {
    const size_t at = frame.tcp ? 6 : 0;
    return frame.bytes.size() > at ? frame.bytes[at] : -1;
}

int FrameFunction(const FrameRecord& frame) {
    const size_t at = frame.tcp ? 7 : 1;
    return frame.bytes.size() > at ? frame.bytes[at] : -1;
}

std::string FrameHex(const std::vector<uint8_t>& bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 3);
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i != 0)
            text.push_back(' ');
        text.push_back(kDigits[bytes[i] >> 4]);
        text.push_back(kDigits[bytes[i] & 0xF]);
    }
    return text;
}

const char* FrameDirectionName(FrameDirection direction) {
    switch (direction) {
    case FrameDirection::Sent:
        return "tx";
    case FrameDirection::Received:
        return "rx";
    case FrameDirection::Discarded:
        return "drop";
    }
    return "?";
}

std::string FrameTimeText(int64_t timeUs) {
    const time_t seconds = static_cast<time_t>(timeUs / 1000000);
    const long micros = static_cast<long>(timeUs % 1000000);
    // The local date and offset change once a second at most; a busy trace asks for them thousands of
    // times a second.
    thread_local time_t cachedSecond = -1;
    thread_local char date[80];
    thread_local char zone[8];
    if (seconds != cachedSecond) {
        struct tm local {};
        localtime_r(&seconds, &local);
        const long offset = local.tm_gmtoff / 60;
        const long magnitude = offset < 0 ? -offset : offset;
        std::snprintf(date, sizeof date, "%04d-%02d-%02dT%02d:%02d:%02d", local.tm_year + 1900,
                      local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
        std::snprintf(zone, sizeof zone, "%c%02ld:%02ld", offset < 0 ? '-' : '+', magnitude / 60 % 100,
                      magnitude % 60);
        cachedSecond = seconds;
    }
    char text[128];
    std::snprintf(text, sizeof text, "%s.%06ld%s", date, micros, zone);
    return text;
}

std::string FrameTraceLine(const FrameRecord& frame) {
    std::string line =
        FrameTimeText(frame.timeUs) + ' ' + frame.line + ' ' + FrameDirectionName(frame.direction);
    if (!frame.bytes.empty())
        line += ' ' + FrameHex(frame.bytes);
    if (frame.rttMs >= 0) {
        char rtt[48];
        std::snprintf(rtt, sizeof rtt, " rtt=%.1fms", frame.rttMs);
        line += rtt;
    }
    if (!frame.outcome.empty())
        line += ' ' + frame.outcome;
    return line;
}

} // namespace mistvale
