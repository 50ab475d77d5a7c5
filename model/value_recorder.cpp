#include "model/value_recorder.h"

#include "model/group.h"
#include "model/local_time.h"
#include "model/record_file.h"
#include "model/source.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

namespace mistvale {

namespace {

constexpr char kHeader[] = "time,group,source,parameter,value,status\r\n";

} // namespace

ValueRecorder::~ValueRecorder() {
    Stop();
}

void ValueRecorder::AppendField(std::string& row, const std::string& field) {
    if (field.find_first_of(",\"\r\n") == std::string::npos) {
        row += field;
        return;
    }
    row += '"';
    for (char c : field) {
        if (c == '"')
            row += '"';
        row += c;
    }
    row += '"';
}

int ValueRecorder::Start(const std::string& path, std::string* error) {
    Stop();
    bool empty = false;
    int fd = OpenForAppending(path, &empty);
    if (fd < 0) {
        if (error != nullptr)
            *error = std::strerror(errno);
        return 0;
    }
    if (empty && !WriteAllBytes(fd, kHeader, sizeof kHeader - 1)) {
        if (error != nullptr)
            *error = std::strerror(errno);
        CloseFile(fd);
        return 0;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        fd_ = fd;
        path_ = path;
        pending_.clear();
        stopping_ = false;
        stopReason_.clear();
    }
    lost_.store(0);
    recording_.store(true);
    writer_ = std::thread(&ValueRecorder::WriterLoop, this);
    return 1;
}

void ValueRecorder::Stop() {
    recording_.store(false); // no row is queued after the writer's last look
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (writer_.joinable())
        writer_.join();
}

std::string ValueRecorder::StopReason() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stopReason_;
}

std::string ValueRecorder::Path() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return path_;
}

void ValueRecorder::OnOutcome(void* context, Group& group, Source& source) {
    static_cast<ValueRecorder*>(context)->Queue(group, source);
}

void ValueRecorder::Queue(Group& group, Source& source) {
    if (!recording_.load())
        return;
    // The row is made before the lock is taken: the writer holds it only to swap the buffer.
    const SourceOutcome outcome = source.Outcome();
    std::string row = Iso8601LocalTime(outcome.atMs);
    row += ',';
    AppendField(row, group.Name().ToUtf8());
    row += ',';
    AppendField(row, source.Name().ToUtf8());
    row += ',';
    AppendField(row, source.Parameter().ToUtf8());
    row += ',';
    AppendField(row, source.Value().ToUtf8());
    row += ',';
    AppendField(row, outcome.failed ? outcome.reason : std::string("ok"));
    row += "\r\n";
    std::lock_guard<std::mutex> lock(mutex_);
    if (pending_.size() + row.size() > kBufferLimit) {
        lost_.fetch_add(1);
        return;
    }
    pending_ += row;
}

bool ValueRecorder::WritePending(std::string& batch) {
    if (batch.empty())
        return true;
    if (!WriteAllBytes(fd_, batch.data(), batch.size())) {
        const int error = errno;
        std::lock_guard<std::mutex> lock(mutex_);
        stopReason_ =
            error == ENOSPC ? "The disk is full" : std::string("Cannot write: ") + std::strerror(error);
        return false;
    }
    batch.clear();
    if (!FileStillNamed(fd_)) {
        std::lock_guard<std::mutex> lock(mutex_);
        stopReason_ = "The file was removed";
        return false;
    }
    return true;
}

void ValueRecorder::WriterLoop() {
    std::string batch;
    for (;;) {
        bool last = false;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            // At least once a second; at once when asked to stop.
            wake_.wait_for(lock, std::chrono::seconds(1), [this] { return stopping_; });
            std::swap(batch, pending_);
            last = stopping_;
        }
        if (!WritePending(batch)) {
            recording_.store(false); // stopped by itself; rows that come later are not queued
            break;
        }
        if (last)
            break;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.clear();
    CloseFile(fd_);
    fd_ = -1;
}

} // namespace mistvale
