#include "modbus/typed_number.h"

#include "modbus/failure_reason.h"
#include "modbus/value_format.h"

#include <bit>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace mistvale {

namespace {

uint16_t SwapBytes(uint16_t r) {
    return static_cast<uint16_t>(r << 8 | r >> 8);
}

bool ReversesRegisters(ByteOrder order) {
    return order == ByteOrder::Cdab || order == ByteOrder::Dcba;
}

bool SwapsBytes(ByteOrder order) {
    return order == ByteOrder::Badc || order == ByteOrder::Dcba;
}

// "%.3f" of a double: up to 309 digits before the point.
std::string FixedThree(double value) {
    char buf[400];
    auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 3);
    if (res.ec != std::errc())
        return "nan";
    return std::string(buf, res.ptr);
}

// Typed text as ASCII without blanks at either end; other characters become '?' so that none passes
// for a digit through its low byte.
std::string TrimmedAscii(const std::u16string& text) {
    std::string s;
    for (char16_t c : text) {
        if (c == 0)
            break;
        s.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
    auto blank = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    size_t first = 0;
    while (first < s.size() && blank(s[first]))
        ++first;
    size_t last = s.size();
    while (last > first && blank(s[last - 1]))
        --last;
    return s.substr(first, last - first);
}

enum class Parsed { Number, NotANumber, OutOfRange };

// A whole number, decimal or with a "0x" prefix, as strtoll/strtoull read it; text after the number
// makes it no number (a typo must not write the digits before it). A minus sign does not fit an
// unsigned type.
Parsed ParseWholeNumber(const std::string& s, bool isSigned, int64_t* signedValue, uint64_t* unsignedValue) {
    size_t digits = 0;
    if (digits < s.size() && (s[digits] == '+' || s[digits] == '-'))
        ++digits;
    if (digits >= s.size() || !(s[digits] >= '0' && s[digits] <= '9'))
        return Parsed::NotANumber;
    const bool hex =
        digits + 1 < s.size() && s[digits] == '0' && (s[digits + 1] == 'x' || s[digits + 1] == 'X');
    const int base = hex ? 16 : 10;
    errno = 0;
    char* end = nullptr;
    if (isSigned)
        *signedValue = std::strtoll(s.c_str(), &end, base);
    else
        *unsignedValue = std::strtoull(s.c_str(), &end, base);
    if (end != s.c_str() + s.size() || (hex && end == s.c_str() + digits + 2))
        return Parsed::NotANumber;
    if (errno == ERANGE || (!isSigned && s[0] == '-'))
        return Parsed::OutOfRange;
    return Parsed::Number;
}

uint16_t BcdOf(uint64_t value) {
    uint16_t r = 0;
    for (int shift = 0; shift < 16; shift += 4, value /= 10)
        r = static_cast<uint16_t>(r | (value % 10) << shift);
    return r;
}

} // namespace

unsigned RegistersOfNumber(ValueFormat format) {
    switch (format) {
    case ValueFormat::Float:
    case ValueFormat::Int32:
    case ValueFormat::UInt32:
        return 2;
    case ValueFormat::Int64:
    case ValueFormat::UInt64:
    case ValueFormat::Double:
        return 4;
    default:
        return 1;
    }
}

const char* NumberTypeName(ValueFormat format) {
    switch (format) {
    case ValueFormat::Float:
        return "float";
    case ValueFormat::UInt16:
        return "uint16";
    case ValueFormat::Int32:
        return "int32";
    case ValueFormat::UInt32:
        return "uint32";
    case ValueFormat::Int64:
        return "int64";
    case ValueFormat::UInt64:
        return "uint64";
    case ValueFormat::Double:
        return "double";
    case ValueFormat::Bcd:
        return "bcd";
    default:
        return "decimal";
    }
}

uint64_t NumberBitsFromRegisters(const uint16_t* registers, unsigned count, ByteOrder order) {
    uint64_t bits = 0;
    for (unsigned i = 0; i < count; ++i) {
        uint16_t r = registers[ReversesRegisters(order) ? count - 1 - i : i];
        bits = bits << 16 | (SwapsBytes(order) ? SwapBytes(r) : r);
    }
    return bits;
}

void RegistersFromNumberBits(uint64_t bits, unsigned count, ByteOrder order, uint16_t* registers) {
    for (unsigned i = 0; i < count; ++i) {
        // Word i of the value, counted from its most significant.
        auto word = static_cast<uint16_t>(bits >> (16 * (count - 1 - i)));
        registers[ReversesRegisters(order) ? count - 1 - i : i] = SwapsBytes(order) ? SwapBytes(word) : word;
    }
}

int16_t SaturatedSample(int64_t value) {
    const int64_t clamped = value > INT32_MAX ? INT32_MAX : value < INT32_MIN ? INT32_MIN : value;
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint64_t>(clamped) & 0xFFFF));
}

int16_t SaturatedSample(double value) {
    if (std::isnan(value))
        return 0;
    const double t = std::trunc(value);
    if (t >= static_cast<double>(INT32_MAX))
        return SaturatedSample(static_cast<int64_t>(INT32_MAX));
    if (t <= static_cast<double>(INT32_MIN))
        return SaturatedSample(static_cast<int64_t>(INT32_MIN));
    return SaturatedSample(static_cast<int64_t>(t));
}

bool FormatTypedNumber(const RegisterPath& reg, const uint16_t* registers, std::string* text, int16_t* sample,
                       std::string* reason) {
    const unsigned count = RegistersOfNumber(reg.format);
    const uint64_t bits = NumberBitsFromRegisters(registers, count, reg.order);
    switch (reg.format) {
    case ValueFormat::Float: {
        // The float of old trees keeps its own text and sample.
        const float f = std::bit_cast<float>(static_cast<uint32_t>(bits));
        *text = FormatFloatValue(f);
        *sample = FloatSample(f);
        return true;
    }
    case ValueFormat::Double: {
        const double d = std::bit_cast<double>(bits);
        *text = FixedThree(d);
        *sample = SaturatedSample(d);
        return true;
    }
    case ValueFormat::Int32: {
        const auto v = static_cast<int32_t>(static_cast<uint32_t>(bits));
        *text = std::to_string(v);
        *sample = SaturatedSample(static_cast<int64_t>(v));
        return true;
    }
    case ValueFormat::Int64: {
        const auto v = static_cast<int64_t>(bits);
        *text = std::to_string(v);
        *sample = SaturatedSample(v);
        return true;
    }
    case ValueFormat::UInt16:
    case ValueFormat::UInt32:
    case ValueFormat::UInt64:
        *text = std::to_string(bits);
        *sample = SaturatedSample(bits > static_cast<uint64_t>(INT32_MAX) ? static_cast<int64_t>(INT32_MAX)
                                                                          : static_cast<int64_t>(bits));
        return true;
    case ValueFormat::Bcd: {
        int64_t v = 0;
        for (int shift = 12; shift >= 0; shift -= 4) {
            const unsigned digit = (bits >> shift) & 0xF;
            if (digit > 9) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "0x%04X", static_cast<unsigned>(bits & 0xFFFF));
                *reason = std::string("The register holds ") + hex + ", which is not four BCD digits";
                return false;
            }
            v = v * 10 + digit;
        }
        *text = std::to_string(v);
        *sample = SaturatedSample(v);
        return true;
    }
    default:
        *reason = kReasonBadRegisterPath;
        return false;
    }
}

bool EncodeTypedNumber(const RegisterPath& reg, const std::u16string& typed, std::vector<uint16_t>* registers,
                       std::string* reason) {
    const unsigned count = RegistersOfNumber(reg.format);
    uint64_t bits = 0;
    if (reg.format == ValueFormat::Float) {
        float f = 0;
        if (!ParseTypedFloat(typed, &f)) {
            *reason = kReasonNotANumber;
            return false;
        }
        bits = std::bit_cast<uint32_t>(f);
    } else if (reg.format == ValueFormat::Double) {
        double d = 0;
        if (!ParseTypedDouble(typed, &d)) {
            *reason = kReasonNotANumber;
            return false;
        }
        bits = std::bit_cast<uint64_t>(d);
    } else {
        const std::string s = TrimmedAscii(typed);
        const bool isSigned = reg.format == ValueFormat::Int32 || reg.format == ValueFormat::Int64;
        int64_t sv = 0;
        uint64_t uv = 0;
        Parsed parsed = ParseWholeNumber(s, isSigned, &sv, &uv);
        if (parsed == Parsed::Number) {
            const bool fits = reg.format == ValueFormat::UInt16   ? uv <= 0xFFFF
                              : reg.format == ValueFormat::Bcd    ? uv <= 9999
                              : reg.format == ValueFormat::UInt32 ? uv <= 0xFFFFFFFFu
                              : reg.format == ValueFormat::Int32  ? sv >= INT32_MIN && sv <= INT32_MAX
                                                                  : true;
            if (!fits)
                parsed = Parsed::OutOfRange;
        }
        if (parsed == Parsed::NotANumber) {
            *reason = kReasonNotANumber;
            return false;
        }
        if (parsed == Parsed::OutOfRange) {
            *reason = s + " does not fit " + NumberTypeName(reg.format);
            return false;
        }
        bits = reg.format == ValueFormat::Bcd ? BcdOf(uv) : isSigned ? static_cast<uint64_t>(sv) : uv;
        if (count < 4)
            bits &= (uint64_t{1} << (16 * count)) - 1;
    }
    registers->assign(count, 0);
    RegistersFromNumberBits(bits, count, reg.order, registers->data());
    return true;
}

} // namespace mistvale
