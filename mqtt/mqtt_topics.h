#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace mistvale {

// The topic names and payloads of published values.

// A group or source name as one topic level: '/', '+', '#', '%', NUL and control characters become
// "%XX" of their UTF-8 bytes, everything else stays as it is; an empty name becomes "_".
std::string TopicLevel(const std::string& utf8Name);

// "<prefix>/<group>/<source>" for each (group, source) pair, in tree order; the second and later
// sources whose topics would be equal get "~2", "~3", ... after their source level.
std::vector<std::string> SourceTopics(const std::string& prefix,
                                      const std::vector<std::pair<std::string, std::string>>& names);

// {"value":"1.500","status":"ok","time":"..."} or
// {"value":null,"status":"failed","reason":"...","time":"..."}.
std::string ValuePayload(const std::string& value, bool failed, const std::string& reason, int64_t atMs);

// A JSON string literal (quotes included) of UTF-8 text.
std::string JsonString(const std::string& utf8);

} // namespace mistvale
