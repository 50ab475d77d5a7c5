#include "sim/request_log.h"

#include <chrono>

namespace mvsim {

RequestLog::~RequestLog() {
    if (file_ != nullptr)
        std::fclose(file_);
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
