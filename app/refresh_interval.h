#pragma once

#include <cstdint>

namespace mistvale {

// The refresh timer's interval in milliseconds for a refresh rate in seconds. The stored rate is used
// without a range check elsewhere, so it is bounded here: at least one second, so that a rate of 0 (an
// empty field in the Options dialog) does not flood the worker with refresh jobs, and at most as many
// seconds as still fit the timer's int milliseconds.
int RefreshIntervalMs(std::uint64_t seconds);

} // namespace mistvale
