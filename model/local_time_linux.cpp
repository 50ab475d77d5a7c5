#include "model/local_time.h"

#include <cstdio>
#include <time.h>

namespace mistvale {

int LocalTimeNow(std::tm& out) {
    std::time_t now = std::time(nullptr);
    return localtime_r(&now, &out) != nullptr ? 1 : 0;
}

int LocalTimeAt(std::int64_t ms, std::tm& out) {
    std::time_t seconds = static_cast<std::time_t>(ms >= 0 ? ms / 1000 : (ms - 999) / 1000);
    return localtime_r(&seconds, &out) != nullptr ? 1 : 0;
}

std::string Iso8601LocalTime(std::int64_t ms) {
    std::tm local{};
    if (!LocalTimeAt(ms, local))
        return std::string();
    const long offset = local.tm_gmtoff; // seconds east of UTC, daylight saving included
    const long minutes = (offset < 0 ? -offset : offset) / 60;
    char text[96];
    const int millis = static_cast<int>(((ms % 1000) + 1000) % 1000);
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02ld:%02ld", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, millis,
                  offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
    return text;
}

} // namespace mistvale
