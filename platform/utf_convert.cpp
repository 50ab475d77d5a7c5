#include "platform/utf_convert.h"

namespace mistvale {

// Decodes one character at text[i]; returns its code point and advances i, or returns -1.
static long DecodeOne(const unsigned char* text, size_t count, size_t& i) {
    unsigned char lead = text[i];
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    int extra;
    long value;
    long minimum;
    if (lead >= 0xC2 && lead <= 0xDF) {
        extra = 1;
        value = lead & 0x1F;
        minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        extra = 2;
        value = lead & 0x0F;
        minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        extra = 3;
        value = lead & 0x07;
        minimum = 0x10000;
    } else {
        return -1;
    }
    if (count - i <= static_cast<size_t>(extra))
        return -1;
    for (int k = 1; k <= extra; ++k) {
        unsigned char next = text[i + k];
        if ((next & 0xC0) != 0x80)
            return -1;
        value = (value << 6) | (next & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return -1;
    i += extra + 1;
    return value;
}

long Utf8ToUtf16Length(const char* utf8, size_t byteCount) {
    return Utf8ToUtf16(utf8, byteCount, nullptr);
}

long Utf8ToUtf16(const char* utf8, size_t byteCount, char16_t* out) {
    const unsigned char* text = reinterpret_cast<const unsigned char*>(utf8);
    long units = 0;
    size_t i = 0;
    while (i < byteCount) {
        long cp = DecodeOne(text, byteCount, i);
        if (cp < 0)
            return -1;
        if (out == nullptr) { // only counting
            units += cp >= 0x10000 ? 2 : 1;
        } else if (cp >= 0x10000) {
            cp -= 0x10000;
            out[units++] = static_cast<char16_t>(0xD800 + (cp >> 10));
            out[units++] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out[units++] = static_cast<char16_t>(cp);
        }
    }
    return units;
}

std::u16string Utf8ToUtf16Lenient(const char* utf8, size_t byteCount) {
    const unsigned char* text = reinterpret_cast<const unsigned char*>(utf8);
    std::u16string result;
    result.reserve(byteCount);
    size_t i = 0;
    while (i < byteCount) {
        size_t start = i;
        long cp = DecodeOne(text, byteCount, i);
        if (cp < 0) {
            result.push_back(text[start]);
            i = start + 1;
        } else if (cp >= 0x10000) {
            cp -= 0x10000;
            result.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            result.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            result.push_back(static_cast<char16_t>(cp));
        }
    }
    return result;
}

bool Utf16ToUtf8(const char16_t* text, size_t count, std::string& out, bool strict) {
    out.reserve(out.size() + count);
    for (size_t i = 0; i < count; ++i) {
        unsigned long cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < count && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            if (strict)
                return false;
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return true;
}

} // namespace mistvale
