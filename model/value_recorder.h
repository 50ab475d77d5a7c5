#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace mistvale {

class Group;
class Source;

// The record of values: one CSV row (RFC 4180, UTF-8) per read or write of a source, in the order the
// worker made them, under the header "time,group,source,parameter,value,status". The worker only
// formats a row and appends it to a bounded buffer in memory; a writer thread of its own writes the
// buffer to the file at least once a second, so the worker never waits for the disk. A file that
// exists is appended to, never truncated. When the disk is full or the file goes away, the
// recording stops by itself and says why; monitoring goes on.
class ValueRecorder {
public:
    ValueRecorder() = default;
    ~ValueRecorder(); // Stop
    ValueRecorder(const ValueRecorder&) = delete;
    ValueRecorder& operator=(const ValueRecorder&) = delete;

    // Opens path for appending (the header row goes into an empty file) and starts the writer.
    // 1 on success; 0 with the reason in *error (optional). A running recording is stopped first.
    int Start(const std::string& path, std::string* error = nullptr);
    // Writes every row queued so far and closes the file. Harmless when not recording.
    void Stop();
    // 1 from a successful Start until Stop, or until the recording stopped by itself.
    int IsRecording() const { return recording_.load() ? 1 : 0; }
    // Why the last recording stopped by itself ("" when it did not).
    std::string StopReason() const;
    std::string Path() const;

    // The worker's outcome handler (MonitorTree::SetOutcomeHandler): queues the source's row.
    static void OnOutcome(void* context, Group& group, Source& source);
    // Appends one field to row, quoted where RFC 4180 asks (comma, quote, CR or LF in it).
    static void AppendField(std::string& row, const std::string& field);

    // The largest number of bytes waiting for the writer; rows past it are dropped and counted.
    static constexpr std::size_t kBufferLimit = 16u << 20;

private:
    void Queue(Group& group, Source& source);
    void WriterLoop();
    // Writes what is pending; false (with stop_reason_ set) when the file cannot take it.
    bool WritePending(std::string& batch);

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::string pending_; // rows waiting for the writer
    bool stopping_ = false;
    std::string stopReason_;
    std::string path_;
    std::atomic<bool> recording_{false};
    std::atomic<std::uint64_t> lost_{0};
    int fd_ = -1;
    std::thread writer_;
};

} // namespace mistvale
