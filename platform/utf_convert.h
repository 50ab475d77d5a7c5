#pragma once
// Conversions between UTF-8 and UTF-16 that never throw and never read past the given lengths.

#include <cstddef>
#include <string>

namespace mistvale {

// Number of UTF-16 units the UTF-8 bytes decode to, or -1 when they are not valid UTF-8 (overlong
// forms, encoded surrogates, values above U+10FFFF and cut sequences are invalid).
long Utf8ToUtf16Length(const char* utf8, size_t byteCount);
// Decodes into out, which has room for at least Utf8ToUtf16Length units. Returns the units written,
// or -1 for invalid input (out may then hold a partial result). A null out only counts the units.
long Utf8ToUtf16(const char* utf8, size_t byteCount, char16_t* out);
// Lenient decoding for display: every byte that does not start a valid sequence is taken as the
// Latin-1 character of the same value.
std::u16string Utf8ToUtf16Lenient(const char* utf8, size_t byteCount);

// Encodes UTF-16 as UTF-8 and appends it to out. With strict set, an unpaired surrogate fails with
// false (out is then left with what was appended so far); otherwise it becomes U+FFFD.
bool Utf16ToUtf8(const char16_t* text, size_t count, std::string& out, bool strict);

} // namespace mistvale
