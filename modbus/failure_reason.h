#pragma once

#include <string>

namespace mistvale {

struct ConnectionPath;

// Why a read or a write of a source failed, worded for the person at the screen: "No reply from slave
// 5 within 0.5 s", "Connection refused by 10.0.0.7:502", "/dev/ttyUSB0 is in use by another program".
// error is the link's LastError (errno values, libmodbus's EMB* codes, kLinkErrorHostNotFound);
// opening tells a link that could not be opened from a request that failed on an open one. device is
// the serial port's device path when known, timeoutUs the deadline that applied to the request (its response
// time-out and, on a serial line, the line time of the longest frame).
std::string DescribeLinkFailure(const ConnectionPath& path, int error, bool opening,
                                const std::string& device, long long timeoutUs);

// The failure texts that are no link's.
extern const char* const kReasonNotANumber;      // a typed value the source's format cannot take
extern const char* const kReasonBadRegisterPath; // a register path that names no register
extern const char* const kReasonNoConnection;    // a group path that names no device

} // namespace mistvale
