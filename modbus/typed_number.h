#pragma once

#include "modbus/register_path.h"

#include <cstdint>
#include <string>
#include <vector>

namespace mistvale {

// Numbers of one, two or four registers (the float of old trees, uint16, int32, uint32, int64, uint64,
// double and bcd) in any of the four byte orders: their texts, history samples and encodings.

// Registers a typed number takes: 1, 2 or 4.
unsigned RegistersOfNumber(ValueFormat format);

// The format's name as a path writes it ("uint16", "int32", ...).
const char* NumberTypeName(ValueFormat format);

// The value's bits, its most significant byte first, from count registers as read in the given order.
uint64_t NumberBitsFromRegisters(const uint16_t* registers, unsigned count, ByteOrder order);

// The count registers that hold bits in the given order.
void RegistersFromNumberBits(uint64_t bits, unsigned count, ByteOrder order, uint16_t* registers);

// The text and history sample of a typed number read from its registers. Returns false with a reason
// when the registers hold no value of the type (a BCD nibble above 9).
bool FormatTypedNumber(const RegisterPath& reg, const uint16_t* registers, std::string* text, int16_t* sample,
                       std::string* reason);

// The registers that hold a typed text as the source's number, in the source's order. Returns false
// with a reason when the text is not a number of the type or does not fit it; nothing is then written.
bool EncodeTypedNumber(const RegisterPath& reg, const std::u16string& typed, std::vector<uint16_t>* registers,
                       std::string* reason);

// The history sample of a number that has no 16-bit form: truncated toward zero, saturated to the
// 32-bit range, then its low 16 bits; a NaN gives 0.
int16_t SaturatedSample(double value);
int16_t SaturatedSample(int64_t value);

} // namespace mistvale
