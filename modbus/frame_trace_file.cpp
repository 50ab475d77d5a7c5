#include "modbus/frame_trace_file.h"

#include <cerrno>
#include <chrono>
#include <cstring>

namespace mistvale {

FrameTraceFile::~FrameTraceFile() {
    Stop();
}

bool FrameTraceFile::Start(const std::string& path, std::string* why) {
    Stop();
    FILE* file = std::fopen(path.c_str(), "a");
    if (file == nullptr) {
        if (why != nullptr)
            *why = path + ": " + std::strerror(errno);
        return false;
    }
    path_ = path;
    file_ = file;
    std::fseek(file_, 0, SEEK_END);
    const long at = std::ftell(file_);
    size_ = at > 0 ? static_cast<uint64_t>(at) : 0;
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = false;
        queued_.clear();
        leftOut_ = 0;
    }
    writer_ = std::thread([this] { WriterLoop(); });
    listener_ = AddFrameListener([this](const FrameRecord& frame) { Queue(frame); });
    return true;
}

void FrameTraceFile::Stop() {
    if (listener_ != 0) {
        RemoveFrameListener(listener_);
        listener_ = 0;
    }
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (writer_.joinable())
        writer_.join();
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
}

void FrameTraceFile::Queue(const FrameRecord& frame) {
    std::lock_guard<std::mutex> guard(lock_);
    if (queued_.size() >= kMaxQueued) {
        ++leftOut_;
        return;
    }
    queued_.push_back(frame);
}

void FrameTraceFile::WriteLine(const std::string& line) {
    if (file_ != nullptr && size_ + line.size() > maxBytes_ && size_ > 0) {
        // The full file becomes the one older copy; tracing goes on in a new one.
        std::fclose(file_);
        std::rename(path_.c_str(), (path_ + ".1").c_str());
        file_ = std::fopen(path_.c_str(), "a");
        size_ = 0;
    }
    if (file_ != nullptr && std::fwrite(line.data(), 1, line.size(), file_) == line.size())
        size_ += line.size();
}

void FrameTraceFile::WriterLoop() {
    std::vector<FrameRecord> batch;
    bool last = false;
    while (!last) {
        size_t leftOut = 0;
        {
            std::unique_lock<std::mutex> guard(lock_);
            wake_.wait_for(guard, std::chrono::milliseconds(500), [this] { return stopping_; });
            last = stopping_;
            batch.swap(queued_);
            leftOut = leftOut_;
            leftOut_ = 0;
        }
        for (const FrameRecord& frame : batch)
            WriteLine(FrameTraceLine(frame) + '\n');
        if (leftOut != 0)
            WriteLine(std::to_string(leftOut) + " frames left out: the trace could not keep up\n");
        if (!batch.empty() || leftOut != 0)
            std::fflush(file_ != nullptr ? file_ : stdout);
        batch.clear();
    }
}

} // namespace mistvale
