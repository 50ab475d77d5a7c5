#pragma once

namespace mistvale {

// Character classes the string's comparing, searching and splitting share (inside the platform
// library only).

namespace wide_chars {

inline char16_t FoldAscii(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
}

// A wider case folding for the natural order: ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic
// capitals map to their small letters.
inline char16_t FoldLetter(char16_t c) {
    if (c < 0x80)
        return FoldAscii(c);
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7)
        return static_cast<char16_t>(c + 32);
    if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 && c != 0x17F) {
        bool evenIsCapital = (c < 0x139) || (c > 0x148 && c < 0x179);
        if (evenIsCapital && c % 2 == 0)
            return static_cast<char16_t>(c + 1);
        if (!evenIsCapital && c % 2 == 1)
            return static_cast<char16_t>(c + 1);
        return c;
    }
    if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2)
        return static_cast<char16_t>(c + 32);
    if (c >= 0x410 && c <= 0x42F)
        return static_cast<char16_t>(c + 32);
    if (c >= 0x400 && c <= 0x40F)
        return static_cast<char16_t>(c + 80);
    return c;
}

inline bool IsIn(char16_t c, const char16_t* set) {
    if (set == nullptr)
        return false;
    for (const char16_t* p = set; *p != 0; ++p)
        if (*p == c)
            return true;
    return false;
}

inline bool IsDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

} // namespace wide_chars

} // namespace mistvale
