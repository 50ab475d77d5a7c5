#include "modbus/value_format.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <locale.h>

namespace mistvale {

namespace {

// Typed text as 8-bit ASCII; anything beyond ASCII becomes '?' so that no character can pass for a
// digit through its low byte.
std::string AsciiOf(const std::u16string& text) {
    std::string out;
    out.reserve(text.size());
    for (char16_t c : text) {
        if (c == 0)
            break;
        out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
    return out;
}

size_t SkipBlanks(const std::string& s, size_t pos) {
    while (pos < s.size() && (s[pos] == ' ' || (s[pos] >= '\t' && s[pos] <= '\r')))
        ++pos;
    return pos;
}

int DigitValue(char c, int base) {
    int d = -1;
    if (c >= '0' && c <= '9')
        d = c - '0';
    else if (c >= 'a' && c <= 'f')
        d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        d = c - 'A' + 10;
    return d >= 0 && d < base ? d : -1;
}

// Steps over an optional "+" or "-" at pos, as scanf does; true for "-".
bool SkipSign(const std::string& s, size_t& pos) {
    if (pos < s.size() && (s[pos] == '+' || s[pos] == '-'))
        return s[pos++] == '-';
    return false;
}

int ParseTypedInteger(const std::u16string& text, int base, uint32_t* value) {
    std::string s = AsciiOf(text);
    size_t pos = SkipBlanks(s, 0);
    const bool negative = SkipSign(s, pos);
    if (base == 16 && pos + 1 < s.size() && s[pos] == '0' && (s[pos + 1] == 'x' || s[pos + 1] == 'X') &&
        pos + 2 < s.size() && DigitValue(s[pos + 2], 16) >= 0)
        pos += 2;
    // glibc's scanf converts with strtoul into a 64-bit unsigned long, which saturates, and then
    // stores its low 32 bits: 4294967297 reads as 1, and only numbers past 2^64 give 0xFFFFFFFF.
    uint64_t n = 0;
    bool any = false;
    bool overflow = false;
    for (; pos < s.size(); ++pos) {
        int d = DigitValue(s[pos], base);
        if (d < 0)
            break;
        any = true;
        if (!overflow && n > (UINT64_MAX - static_cast<uint64_t>(d)) / static_cast<uint64_t>(base))
            overflow = true;
        if (!overflow)
            n = n * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
    }
    if (!any)
        return 0;
    if (overflow)
        n = UINT64_MAX;
    else if (negative)
        n = 0 - n;
    *value = static_cast<uint32_t>(n);
    return 1;
}

} // namespace

int FormatDecimalUnits(uint16_t item, char16_t* out) {
    const int value = static_cast<int16_t>(item);
    unsigned magnitude = static_cast<unsigned>(value < 0 ? -value : value);
    char16_t digits[kValueUnits];
    int count = 0;
    do {
        digits[count++] = static_cast<char16_t>(u'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    int length = 0;
    if (value < 0)
        out[length++] = u'-';
    while (count > 0)
        out[length++] = digits[--count];
    return length;
}

int FormatHexUnits(uint16_t item, char16_t* out) {
    static const char16_t kDigits[] = u"0123456789ABCDEF";
    out[0] = u'0';
    out[1] = u'x';
    for (int i = 0; i < 4; ++i)
        out[2 + i] = kDigits[(item >> (12 - 4 * i)) & 0xF];
    return 6;
}

namespace {

std::string Narrow(const char16_t* units, int length) {
    return std::string(units, units + length);
}

} // namespace

std::string FormatDecimalValue(uint16_t item) {
    char16_t units[kValueUnits];
    return Narrow(units, FormatDecimalUnits(item, units));
}

std::string FormatHexValue(uint16_t item) {
    char16_t units[kValueUnits];
    return Narrow(units, FormatHexUnits(item, units));
}

std::string FormatFloatValue(float value) {
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, static_cast<double>(value), std::chars_format::fixed, 3);
    if (res.ec != std::errc())
        return "nan";
    return std::string(buf, res.ptr);
}

int16_t FloatSample(float value) {
    double t = std::trunc(static_cast<double>(value));
    if (!std::isfinite(t) || t >= 9.2e18 || t <= -9.2e18)
        return 0;
    int64_t n = static_cast<int64_t>(t);
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint64_t>(n) & 0xFFFF));
}

void AppendRegisterText(std::u16string* text, uint16_t item) {
    text->push_back(static_cast<char16_t>(item & 0xFF));
    text->push_back(static_cast<char16_t>(item >> 8));
    size_t nul = text->find(u'\0');
    if (nul != std::u16string::npos)
        text->resize(nul);
}

std::vector<uint16_t> EncodeTextRegisters(const std::u16string& text) {
    std::vector<uint16_t> regs;
    regs.reserve((text.size() + 1) / 2);
    for (size_t i = 0; i < text.size(); i += 2) {
        uint16_t low = static_cast<uint16_t>(text[i] & 0xFF);
        uint16_t high = i + 1 < text.size() ? static_cast<uint16_t>(text[i + 1] & 0xFF) : 0;
        regs.push_back(static_cast<uint16_t>(high << 8 | low));
    }
    return regs;
}

int ParseTypedUnsigned(const std::u16string& text, uint32_t* value) {
    return ParseTypedInteger(text, 10, value);
}

int ParseTypedHex(const std::u16string& text, uint32_t* value) {
    return ParseTypedInteger(text, 16, value);
}

namespace {

// One "%f"-family conversion by the C library itself, in the C locale whatever the process's is: its
// exponents beyond the range (+-inf), "inf", "nan" and hexadecimal forms are exactly what scanf makes
// of them.
template <typename Number> int ScanNumber(const std::u16string& text, const char* conversion, Number* value) {
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    const std::string s = AsciiOf(text);
    const locale_t previous = uselocale(cLocale);
    Number number = 0;
    const int converted = std::sscanf(s.c_str(), conversion, &number);
    uselocale(previous);
    if (converted != 1)
        return 0;
    *value = number;
    return 1;
}

} // namespace

int ParseTypedFloat(const std::u16string& text, float* value) {
    return ScanNumber(text, "%f", value);
}

int ParseTypedDouble(const std::u16string& text, double* value) {
    return ScanNumber(text, "%lf", value);
}

} // namespace mistvale
