#include "mqtt/mqtt_topics.h"

#include "model/local_time.h"

#include <cstdio>
#include <map>

namespace mistvale {

std::string TopicLevel(const std::string& utf8Name) {
    if (utf8Name.empty())
        return "_";
    std::string level;
    level.reserve(utf8Name.size());
    for (const char c : utf8Name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '/' || c == '+' || c == '#' || c == '%' || byte < 0x20 || byte == 0x7F) {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
            level += escaped;
        } else {
            level.push_back(c);
        }
    }
    return level;
}

std::vector<std::string> SourceTopics(const std::string& prefix,
                                      const std::vector<std::pair<std::string, std::string>>& names) {
    std::vector<std::string> topics;
    topics.reserve(names.size());
    std::map<std::string, int> seen;
    for (const auto& [group, source] : names) {
        const std::string topic = prefix + '/' + TopicLevel(group) + '/' + TopicLevel(source);
        const int n = ++seen[topic];
        topics.push_back(n == 1 ? topic : topic + '~' + std::to_string(n));
    }
    return topics;
}

std::string JsonString(const std::string& utf8) {
    std::string out = "\"";
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (byte < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04X", byte);
                out += escaped;
            } else {
                out.push_back(c);
            }
        }
    }
    return out + '"';
}

std::string ValuePayload(const std::string& value, bool failed, const std::string& reason, int64_t atMs) {
    std::string payload = "{\"value\":";
    payload += failed ? std::string("null") : JsonString(value);
    payload += failed ? ",\"status\":\"failed\",\"reason\":" + JsonString(reason) : ",\"status\":\"ok\"";
    payload += ",\"time\":" + JsonString(Iso8601LocalTime(atMs)) + '}';
    return payload;
}

} // namespace mistvale
