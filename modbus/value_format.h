#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace mistvale {

// The value texts of register reads and the encodings of typed values for writing. Texts are built in
// the C locale whatever the process locale is, so "1.000" never turns into "1,000".

// "%hd" of the 16-bit item: 65535 gives "-1".
std::string FormatDecimalValue(uint16_t item);

// "0x%04hX": "0x" and four upper-case hexadecimal digits.
std::string FormatHexValue(uint16_t item);

// The same texts as UTF-16 units written to out (room for kValueUnits), without allocating; return the
// number of units. A refresh pass formats thousands of values with them.
constexpr int kValueUnits = 8;
int FormatDecimalUnits(uint16_t item, char16_t* out);
int FormatHexUnits(uint16_t item, char16_t* out);

// "%.3f" of the value: three decimals.
std::string FormatFloatValue(float value);

// The history sample of a float value: truncated toward zero, low 16 bits kept (values beyond any
// integer give 0).
int16_t FloatSample(float value);

// Appends the two characters of a text register, low byte first, then cuts the text at its first NUL:
// a zero high byte adds nothing, a zero low byte adds nothing at all.
void AppendRegisterText(std::u16string* text, uint16_t item);

// The registers a typed text is written into: character 2k in the low byte of register k, character
// 2k+1 in its high byte, each reduced to its low 8 bits; an odd length leaves the last high byte 0.
std::vector<uint16_t> EncodeTextRegisters(const std::u16string& text);

// Typed numbers, read the way "%u", "%x", "%f" and "%lf" read them: leading blanks skipped, an optional sign,
// "%x" also takes a "0x" prefix, "%u" turns a minus into the two's complement. Trailing text is
// ignored. Return 1 when at least one digit was read.
int ParseTypedUnsigned(const std::u16string& text, uint32_t* value);
int ParseTypedHex(const std::u16string& text, uint32_t* value);
int ParseTypedFloat(const std::u16string& text, float* value);
int ParseTypedDouble(const std::u16string& text, double* value);

} // namespace mistvale
