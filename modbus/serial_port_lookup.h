#pragma once

#include "platform/wide_string.h"

#include <string>

namespace mistvale {

// Finds the device path of a serial port by its display name (exact, case-sensitive) in a freshly
// built serial port list; "***USE_LAST_DEVICE***" takes the last listed port. 1 when found.
int LookUpSerialDevice(const WideString& portName, std::string* devicePath);

// Calls visitor with the display name of every port of a freshly built list, in list order, until it
// returns 0.
typedef int (*SerialPortNameVisitor)(const WideString& displayName, void* context);
void ForEachSerialPortName(SerialPortNameVisitor visitor, void* context);

} // namespace mistvale
