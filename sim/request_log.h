#pragma once
// The request log: one line per request received, flushed at once so that a test can read it while
// the simulator runs.
//
// Line format (fields separated by one space):
//   <seconds> <transport> <slave> <function> <address> <count> <outcome>
// seconds   CLOCK_MONOTONIC (std::chrono::steady_clock) time of arrival, with six decimals, the same clock
//           a test process reads, so times compare directly;
// transport "tcp" or "rtu";
// slave     slave address (RTU) or unit id (TCP), decimal;
// function  function code, decimal;
// address, count  start address and quantity (5 and 6: address and 1; 0x2B: read code and object id;
//           functions without them: 0 0);
// outcome   reply, exception:<code>, silent, drop, ignored (another slave's or a broadcast request on RTU),
//           nodevice (TCP unit id without a device; answered with exception 11), badcrc.

#include <cstdint>
#include <cstdio>
#include <string>

namespace mvsim {

class RequestLog {
public:
    RequestLog() = default;
    ~RequestLog();
    RequestLog(const RequestLog&) = delete;
    RequestLog& operator=(const RequestLog&) = delete;

    // Opens (truncates) the log file; false when it cannot be written.
    bool Open(const std::string& path);
    void Write(const char* transport, unsigned slave, unsigned function, uint32_t address, uint32_t count,
               const std::string& outcome);
    // The frame log: "<seconds> rx|tx <hex bytes>" for every whole frame received and sent.
    bool OpenFrames(const std::string& path);
    void WriteFrame(const char* direction, const uint8_t* bytes, size_t length);

private:
    FILE* file_ = nullptr;
    FILE* frames_ = nullptr;
};

} // namespace mvsim
