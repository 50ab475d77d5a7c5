#pragma once

#include "modbus/frame_capture.h"

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace mistvale {

// Appends every captured frame to a text file, one line each (FrameTraceLine). The lines' threads only
// queue their frames; a thread of the trace's own formats and writes them, so a slow disk never slows a
// line (past kMaxQueued waiting frames, new ones are counted and left out, and the count is written).
// The file is flushed at least once a second and when the trace ends; past maxBytes it is renamed to
// "<file>.1" (replacing an older one) and a new file is begun, so a trace left running for weeks takes
// at most twice that.
class FrameTraceFile {
public:
    static constexpr uint64_t kDefaultMaxBytes = 100ull * 1024 * 1024;
    static constexpr size_t kMaxQueued = 100000;

    explicit FrameTraceFile(uint64_t maxBytes = kDefaultMaxBytes) : maxBytes_(maxBytes) {}
    ~FrameTraceFile();
    FrameTraceFile(const FrameTraceFile&) = delete;
    FrameTraceFile& operator=(const FrameTraceFile&) = delete;

    // Starts tracing into path (appending). False with the reason when the file cannot be written.
    bool Start(const std::string& path, std::string* why);
    // Ends the trace: no frame is written afterwards, and the file is flushed and closed.
    void Stop();

private:
    void Queue(const FrameRecord& frame);
    void WriterLoop();
    void WriteLine(const std::string& line);

    const uint64_t maxBytes_;
    std::string path_;
    int listener_ = 0;
    std::mutex lock_;
    std::condition_variable wake_;
    bool stopping_ = false;           // guarded by lock_
    std::vector<FrameRecord> queued_; // guarded by lock_
    size_t leftOut_ = 0;              // guarded by lock_
    FILE* file_ = nullptr;            // the writer's while it runs
    uint64_t size_ = 0;               // the writer's while it runs
    std::thread writer_;
};

} // namespace mistvale
