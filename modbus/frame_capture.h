#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace mistvale {

// Every frame the links send, receive or throw away, handed to whoever watches (the Traffic window, a
// trace file). While nobody watches, a link builds no record at all: FrameCaptureOn() is one relaxed
// atomic load.

enum class FrameDirection { Sent, Received, Discarded };

struct FrameRecord {
    int64_t timeUs = 0; // wall-clock time, microseconds since 1970
    std::string line;   // serial port name, or host:port
    bool tcp = false;   // bytes carry an MBAP header, else slave address first and CRC last
    FrameDirection direction = FrameDirection::Sent;
    std::vector<uint8_t> bytes; // the whole application data unit
    double rttMs = -1;          // a reply's round-trip time; -1 for none
    std::string outcome;        // a reply's: "ok", "exception 2", "CRC", "time-out", ...
};

using FrameListener = std::function<void(const FrameRecord&)>;

// Listeners are called on the thread of the link that captured the frame, one frame at a time per
// link and possibly from several links at once; they must be quick and thread-safe. Removing a
// listener waits for calls in progress, so its captures may be freed afterwards. Returns its id.
int AddFrameListener(FrameListener listener);
void RemoveFrameListener(int id);

bool FrameCaptureOn();
void PublishFrame(const FrameRecord& frame);

// The slave (unit id) and function of a frame, -1 when it is too short to carry them.
int FrameSlave(const FrameRecord& frame);
int FrameFunction(const FrameRecord& frame);

// "05 03 00 64 00 01 C4 51": upper-case hexadecimal bytes, one space apart.
std::string FrameHex(const std::vector<uint8_t>& bytes);

// "tx", "rx" or "drop".
const char* FrameDirectionName(FrameDirection direction);

// Local ISO 8601 time with microseconds and the UTC offset: "2026-12-09T14:03:22.418211+01:00".
std::string FrameTimeText(int64_t timeUs);

// One line of a trace, without its line break:
// "2026-12-09T14:03:22.431907+01:00 ttyUSB0 rx 05 03 02 04 D2 CB 19 rtt=13.7ms ok".
std::string FrameTraceLine(const FrameRecord& frame);

} // namespace mistvale
