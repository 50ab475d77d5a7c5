#include "app/refresh_interval.h"

#include <climits>

namespace mistvale {

int RefreshIntervalMs(std::uint64_t seconds) {
    constexpr std::uint64_t kMaxSeconds = INT_MAX / 1000;
    if (seconds < 1)
        seconds = 1;
    if (seconds > kMaxSeconds)
        seconds = kMaxSeconds;
    return static_cast<int>(seconds * 1000);
}

} // namespace mistvale
