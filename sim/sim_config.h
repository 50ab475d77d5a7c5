#pragma once
// Reading the simulator's device configuration (XML, described in sim/README.md).

#include "sim/sim_device.h"

#include <memory>
#include <string>
#include <vector>

namespace mvsim {

// Parses the configuration text; on success `devices` holds one device per <Device> element, in
// document order. On failure returns false and describes the first problem in `error`.
bool ParseSimConfig(const std::string& xml, std::vector<std::unique_ptr<SimDevice>>& devices,
                    std::string& error);

// Reads the file and parses it as ParseSimConfig does.
bool LoadSimConfig(const std::string& path, std::vector<std::unique_ptr<SimDevice>>& devices,
                   std::string& error);

// The configuration used when none is given: one demonstration device at slave 1.
const char* DefaultSimConfig();

// Parses "123", "-5" or "0x1F" into `value`; false when the text is not such a number.
bool ParseSimNumber(const char* text, long long& value);

} // namespace mvsim
