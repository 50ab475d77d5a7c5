#pragma once

#include "platform/wide_string.h"

#include <cstdint>

namespace mistvale {

class Group;
class Source;

// 1 when the first "/"-token of the group's connection path is "Clock" (any case).
int IsClockGroup(const Group& group);
// Clock value of one source: a parameter of "Date" (any case) sets the value text to the current
// local date in the environment locale's short form (%x), "Time" to the local time (%X); anything
// else leaves the value unchanged. Returns 1 when the value was set. No history sample.
int ReadClockValue(Source& source);
// The model's own source reader: clock values for Clock groups, nothing for other kinds.
void ReadClockSource(Group& group, Source& source);
// A moment (milliseconds since 1970, UTC) as local time in the environment locale's form (%X), the
// form a Time source shows. 1 on success.
int FormatClockTime(std::int64_t ms, WideString& out);

} // namespace mistvale
