#include "platform/wide_string.h"

#include "platform/wide_string_chars.h"

namespace mistvale {

using wide_chars::FoldAscii;
using wide_chars::FoldLetter;
using wide_chars::IsDigit;

// --- Reading and comparing -------------------------------------------------------------------------

char16_t WideString::At(int index) const {
    return index >= 0 && index < length_ ? buffer_[index] : 0;
}

int WideString::Compare(const char16_t* text) const {
    if (text == nullptr)
        return length_ == 0 ? 0 : -1;
    const char16_t* a = buffer_;
    const char16_t* b = text;
    while (*a != 0 && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b ? 0 : (*a < *b ? -1 : 1);
}

int WideString::CompareNoCase(const char16_t* text) const {
    if (text == nullptr)
        return length_ == 0 ? 0 : -1;
    const char16_t* a = buffer_;
    const char16_t* b = text;
    for (;; ++a, ++b) {
        char16_t x = FoldAscii(*a);
        char16_t y = FoldAscii(*b);
        if (x != y)
            return x < y ? -1 : 1;
        if (x == 0)
            return 0;
    }
}

int WideString::CompareNoCaseN(const char16_t* text, int count) const {
    if (text == nullptr)
        return length_ == 0 ? 0 : -1;
    for (int i = 0; i < count; ++i) {
        char16_t x = FoldAscii(buffer_[i]);
        char16_t y = FoldAscii(text[i]);
        if (x != y)
            return x < y ? -1 : 1;
        if (x == 0)
            return 0;
    }
    return 0;
}

int WideString::CompareNatural(const char16_t* text) const {
    if (text == nullptr)
        text = u"";
    const char16_t* a = buffer_;
    const char16_t* b = text;
    int zeroTieBreak = 0;
    while (*a != 0 && *b != 0) {
        if (IsDigit(*a) && IsDigit(*b)) {
            const char16_t* za = a;
            const char16_t* zb = b;
            while (*a == u'0')
                ++a;
            while (*b == u'0')
                ++b;
            long zerosA = static_cast<long>(a - za);
            long zerosB = static_cast<long>(b - zb);
            const char16_t* ea = a;
            const char16_t* eb = b;
            while (IsDigit(*ea))
                ++ea;
            while (IsDigit(*eb))
                ++eb;
            long digitsA = static_cast<long>(ea - a);
            long digitsB = static_cast<long>(eb - b);
            if (digitsA != digitsB)
                return digitsA < digitsB ? -1 : 1;
            for (; a < ea; ++a, ++b)
                if (*a != *b)
                    return *a < *b ? -1 : 1;
            if (zeroTieBreak == 0 && zerosA != zerosB)
                zeroTieBreak = zerosA < zerosB ? -1 : 1;
            continue;
        }
        char16_t x = FoldLetter(*a);
        char16_t y = FoldLetter(*b);
        if (x != y)
            return x < y ? -1 : 1;
        ++a;
        ++b;
    }
    if (*a != 0)
        return 1;
    if (*b != 0)
        return -1;
    return zeroTieBreak;
}

bool WideString::operator==(const char16_t* text) const {
    return Compare(text) == 0;
}

// --- Searching -----------------------------------------------------------------------------------

int WideString::FindChar(char16_t unit) const {
    for (int i = 0; i < length_; ++i)
        if (buffer_[i] == unit)
            return i;
    return -1;
}

int WideString::FindNoCase(const char16_t* text, int start) const {
    if (text == nullptr || start < 0 || start >= length_)
        return -1;
    int n = WideLength(text);
    for (int i = start; i + n <= length_; ++i) {
        int k = 0;
        while (k < n && FoldAscii(buffer_[i + k]) == FoldAscii(text[k]))
            ++k;
        if (k == n)
            return i;
    }
    return -1;
}

} // namespace mistvale
