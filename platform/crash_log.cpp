#include "platform/crash_log.h"

#include <atomic>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace mistvale {

namespace {

char g_lines[kCrashLogLines][kCrashLogLineLength];
std::atomic<unsigned> g_count{0};
std::mutex g_writers;

} // namespace

void NoteForCrashReport(const char* text) {
    if (!text)
        return;
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::lock_guard<std::mutex> lock(g_writers);
    const unsigned slot = g_count.load(std::memory_order_relaxed) % kCrashLogLines;
    std::snprintf(g_lines[slot], kCrashLogLineLength, "%02d:%02d:%02d %s", local.tm_hour, local.tm_min,
                  local.tm_sec, text);
    g_count.store(g_count.load(std::memory_order_relaxed) + 1, std::memory_order_release);
}

void CopyCrashLog(char* out, size_t capacity) {
    if (!out || capacity == 0)
        return;
    size_t used = 0;
    const unsigned count = g_count.load(std::memory_order_acquire);
    const unsigned first = count > kCrashLogLines ? count - kCrashLogLines : 0;
    for (unsigned i = first; i < count; ++i) {
        const char* line = g_lines[i % kCrashLogLines];
        for (int j = 0; j < kCrashLogLineLength && line[j] && used + 3 < capacity; ++j)
            out[used++] = line[j];
        if (used + 3 >= capacity)
            break;
        out[used++] = '\r';
        out[used++] = '\n';
    }
    out[used] = '\0';
}

} // namespace mistvale
