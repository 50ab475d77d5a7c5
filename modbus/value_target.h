#pragma once

#include "platform/wide_string.h"

#include <string>

namespace mistvale {

// What a write to a source reaches, in words (UTF-8): "Setpoint (Boiler) — holding register 100, slave
// 5, ttyUSB0", "Flow (Plc) — input register 30, 10.0.0.7:502". A path that names no register gives
// the names alone.
std::string DescribeValueTarget(const WideString& sourceName, const WideString& groupName,
                                const WideString& groupPath, const WideString& sourcePath);

} // namespace mistvale
