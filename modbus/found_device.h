#pragma once

#include "model/list_item.h"
#include "platform/wide_string.h"

#include <cstdint>

namespace mistvale {

// A device that answered the slave scan of the device search, with its identification texts.
class FoundDevice : public ListItem {
public:
    FoundDevice() = default;
    FoundDevice(const WideString& portName, uint32_t slaveAddress) : port(portName), slave(slaveAddress) {}

    WideString port;    // display name of the serial port it was found on
    uint32_t slave = 0; // the slave address that answered, 1 to 247
    // Identification objects 0 to 6: vendor name, product code, major/minor revision, vendor URL,
    // product name, model name, user application name; empty when not reported.
    WideString identification[7];
};

} // namespace mistvale
