#include "sim/request_log.h"

#include <chrono>

namespace mvsim {

RequestLog::~RequestLog() {
    if (file_ != nullptr)
        std::fclose(file_);
    if (frames_ != nullptr)
        std::fclose(frames_);
}

bool RequestLog::OpenFrames(const std::string& path) {
    frames_ = std::fopen(path.c_str(), "w");
    return frames_ != nullptr;
}

void RequestLog::WriteFrame(const char* direction, const uint8_t* bytes, size_t length) {
    if (frames_ == nullptr)
        return;
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    std::fprintf(frames_, "%.6f %s", std::chrono::duration<double>(now).count(), direction);
    for (size_t i = 0; i < length; ++i)
        std::fprintf(frames_, " %02X", bytes[i]);
    std::fputc('\n', frames_);
    std::fflush(frames_);
}

bool RequestLog::Open(const std::string& path) {
    file_ = std::fopen(path.c_str(), "w");
    return file_ != nullptr;
}

void RequestLog::Write(const char* transport, unsigned slave, unsigned function, uint32_t address,
                       uint32_t count, const std::string& outcome) {
    if (file_ == nullptr)
        return;
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    double seconds = std::chrono::duration<double>(now).count();
    std::fprintf(file_, "%.6f %s %u %u %u %u %s\n", seconds, transport, slave, function,
                 static_cast<unsigned>(address), static_cast<unsigned>(count), outcome.c_str());
    std::fflush(file_);
}

} // namespace mvsim
