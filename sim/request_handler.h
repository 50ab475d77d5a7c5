#pragma once
// Turns one request PDU (function code and data) into the reply PDU of a simulated slave.

#include "sim/sim_device.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mvsim {

// What the request log records of a request: the function, and the address and quantity where the
// function has them (Read Device Identification: the read code and the object id).
struct RequestSummary {
    uint8_t function = 0;
    uint32_t address = 0;
    uint32_t count = 0;
};

// Fills `summary` from the request PDU, whatever the device does with it.
void SummarizeRequest(const uint8_t* pdu, size_t length, RequestSummary& summary);

// Builds the reply PDU to `pdu` for `device` at `elapsedMs` after start, without applying faults.
// Writes change the device. Returns the exception code sent (0 for a normal reply).
uint8_t HandleRequest(SimDevice& device, const uint8_t* pdu, size_t length, uint64_t elapsedMs,
                      std::vector<uint8_t>& reply);

// The exception reply for `function` with `code`.
void BuildException(uint8_t function, uint8_t code, std::vector<uint8_t>& reply);

} // namespace mvsim
