#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace mistvale {

// The current local time broken down (the platform's thread-safe conversion). 1 on success.
int LocalTimeNow(std::tm& out);

// A moment (milliseconds since 1970, UTC) as local time in ISO 8601 with milliseconds and the UTC
// offset: "2026-12-08T14:03:22.418+01:00". Empty when it cannot be converted.
std::string Iso8601LocalTime(std::int64_t ms);
// A moment broken down as local time. 1 on success.
int LocalTimeAt(std::int64_t ms, std::tm& out);

} // namespace mistvale
