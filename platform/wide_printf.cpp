#include "platform/wide_printf.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/utf_convert.h"

namespace mistvale {

// Widths and precisions beyond this are cut: any output that long is past every limit of the callers.
static const long kMaxFieldWidth = 0x400000;

void WidePrintSink::PutRepeat(char16_t unit, size_t n) {
    size_t end = count + n;
    for (size_t i = count; i < room && i < end; ++i)
        buffer[i] = unit;
    count = end;
}

void WidePrintSink::PutUnits(const char16_t* units, size_t n) {
    if (count < room) {
        size_t fit = room - count < n ? room - count : n;
        std::memcpy(buffer + count, units, fit * sizeof(char16_t));
    }
    count += n;
}

void WidePrintSink::PutNarrow(const char* ascii, size_t n) {
    for (size_t i = 0; i < n; ++i)
        Put(static_cast<unsigned char>(ascii[i]));
}

enum class LengthMod { None, Char, Short, Long, LongLong, Size, Intmax, Ptrdiff, LongDouble, Wide };

struct Directive {
    bool left = false;
    bool plus = false;
    bool space = false;
    bool alternate = false;
    bool zero = false;
    long width = -1;
    long precision = -1;
    LengthMod length = LengthMod::None;
};

static size_t BoundedLength(const char16_t* text, long precision) {
    size_t n = 0;
    while ((precision < 0 || n < static_cast<size_t>(precision)) && text[n] != 0)
        ++n;
    return n;
}

static void PutPadded(WidePrintSink& sink, const Directive& d, const char16_t* text, size_t n) {
    size_t pad = d.width > 0 && static_cast<size_t>(d.width) > n ? static_cast<size_t>(d.width) - n : 0;
    if (!d.left)
        sink.PutRepeat(u' ', pad);
    sink.PutUnits(text, n);
    if (d.left)
        sink.PutRepeat(u' ', pad);
}

// Builds the narrow printf directive for one number: flags, width, precision, the given length
// modifier and conversion.
static std::string NarrowSpec(const Directive& d, const char* length, char conversion) {
    std::string directive = "%";
    if (d.left)
        directive += '-';
    if (d.plus)
        directive += '+';
    if (d.space)
        directive += ' ';
    if (d.alternate)
        directive += '#';
    if (d.zero)
        directive += '0';
    if (d.width >= 0)
        directive += std::to_string(d.width);
    if (d.precision >= 0) {
        directive += '.';
        directive += std::to_string(d.precision);
    }
    directive += length;
    directive += conversion;
    return directive;
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
template <typename T> static void PutNumber(WidePrintSink& sink, const std::string& directive, T value) {
    char small[128];
    int n = std::snprintf(small, sizeof small, directive.c_str(), value);
    if (n < 0)
        return;
    if (static_cast<size_t>(n) < sizeof small) {
        sink.PutNarrow(small, static_cast<size_t>(n));
        return;
    }
    std::string big(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(big.data(), big.size(), directive.c_str(), value);
    sink.PutNarrow(big.data(), static_cast<size_t>(n));
}
#pragma GCC diagnostic pop

static void PutSigned(WidePrintSink& sink, const Directive& d, char conversion, va_list& args) {
    long long value;
    switch (d.length) {
    case LengthMod::Char:
        // %hhd prints the argument as the signed char it was.
        value = static_cast<signed char>(va_arg(args, int)); // NOLINT(bugprone-signed-char-misuse)
        break;
    case LengthMod::Short:
        value = static_cast<short>(va_arg(args, int));
        break;
    case LengthMod::Long:
        value = va_arg(args, long);
        break;
    case LengthMod::LongLong:
        value = va_arg(args, long long);
        break;
    // The types are the same on this platform, not on every one. NOLINTNEXTLINE(bugprone-branch-clone)
    case LengthMod::Size:
    case LengthMod::Ptrdiff:
        value = static_cast<long long>(va_arg(args, ptrdiff_t));
        break;
    case LengthMod::Intmax:
        value = static_cast<long long>(va_arg(args, intmax_t));
        break;
    default:
        value = va_arg(args, int);
        break;
    }
    PutNumber(sink, NarrowSpec(d, "ll", conversion), value);
}

static void PutUnsigned(WidePrintSink& sink, const Directive& d, char conversion, va_list& args) {
    unsigned long long value;
    switch (d.length) {
    case LengthMod::Char:
        value = static_cast<unsigned char>(va_arg(args, unsigned));
        break;
    case LengthMod::Short:
        value = static_cast<unsigned short>(va_arg(args, unsigned));
        break;
    case LengthMod::Long:
        value = va_arg(args, unsigned long);
        break;
    case LengthMod::LongLong:
        value = va_arg(args, unsigned long long);
        break;
    case LengthMod::Size:
    case LengthMod::Ptrdiff:
        value = va_arg(args, size_t);
        break;
    case LengthMod::Intmax:
        value = static_cast<unsigned long long>(va_arg(args, uintmax_t));
        break;
    default:
        value = va_arg(args, unsigned);
        break;
    }
    PutNumber(sink, NarrowSpec(d, "ll", conversion), value);
}

static void PutWideString(WidePrintSink& sink, const Directive& d, const char16_t* text) {
    if (text == nullptr)
        text = u"(null)";
    else if (sink.guardBegin != nullptr && text >= sink.guardBegin && text < sink.guardEnd)
        sink.aliased = true;
    PutPadded(sink, d, text, BoundedLength(text, d.precision));
}

static void PutNarrowString(WidePrintSink& sink, const Directive& d, const char* text) {
    if (text == nullptr)
        text = "(null)";
    size_t bytes = 0;
    while ((d.precision < 0 || bytes < static_cast<size_t>(d.precision)) && text[bytes] != 0)
        ++bytes;
    // Without a precision the whole text is decoded; with one, at most that many units are printed.
    std::u16string wide = Utf8ToUtf16Lenient(text, bytes);
    size_t n = wide.size();
    if (d.precision >= 0 && n > static_cast<size_t>(d.precision))
        n = static_cast<size_t>(d.precision);
    PutPadded(sink, d, wide.data(), n);
}

static const char16_t* ParseNumber(const char16_t* p, long& value) {
    value = 0;
    while (*p >= u'0' && *p <= u'9') {
        if (value < kMaxFieldWidth)
            value = value * 10 + (*p - u'0');
        ++p;
    }
    if (value > kMaxFieldWidth)
        value = kMaxFieldWidth;
    return p;
}

size_t WidePrintV(WidePrintSink& sink, const char16_t* format, va_list args) {
    if (format == nullptr)
        return sink.count;
    va_list ap;
    va_copy(ap, args);
    const char16_t* p = format;
    while (*p != 0) {
        if (*p != u'%') {
            const char16_t* run = p;
            while (*p != 0 && *p != u'%')
                ++p;
            sink.PutUnits(run, static_cast<size_t>(p - run));
            continue;
        }
        const char16_t* start = p++;
        if (*p == u'%') {
            sink.Put(u'%');
            ++p;
            continue;
        }
        Directive d;
        for (;; ++p)
            if (*p == u'-')
                d.left = true;
            else if (*p == u'+')
                d.plus = true;
            else if (*p == u' ')
                d.space = true;
            else if (*p == u'#')
                d.alternate = true;
            else if (*p == u'0')
                d.zero = true;
            else
                break;
        if (*p == u'*') {
            int w = va_arg(ap, int);
            if (w < 0) {
                d.left = true;
                w = w == INT_MIN ? INT_MAX : -w;
            }
            d.width = w > kMaxFieldWidth ? kMaxFieldWidth : w;
            ++p;
        } else if (*p >= u'1' && *p <= u'9') {
            p = ParseNumber(p, d.width);
        }
        if (*p == u'.') {
            ++p;
            if (*p == u'*') {
                int prec = va_arg(ap, int);
                d.precision = prec < 0 ? -1 : (prec > kMaxFieldWidth ? kMaxFieldWidth : prec);
                ++p;
            } else {
                p = ParseNumber(p, d.precision);
            }
        }
        switch (*p) {
        case u'h':
            ++p;
            d.length = LengthMod::Short;
            if (*p == u'h') {
                d.length = LengthMod::Char;
                ++p;
            }
            break;
        case u'l':
            ++p;
            d.length = LengthMod::Long;
            if (*p == u'l') {
                d.length = LengthMod::LongLong;
                ++p;
            }
            break;
        case u'q':
            ++p;
            d.length = LengthMod::LongLong;
            break;
        case u'L':
            ++p;
            d.length = LengthMod::LongDouble;
            break;
        case u'j':
            ++p;
            d.length = LengthMod::Intmax;
            break;
        case u'z':
            ++p;
            d.length = LengthMod::Size;
            break;
        case u't':
            ++p;
            d.length = LengthMod::Ptrdiff;
            break;
        case u'w':
            ++p;
            d.length = LengthMod::Wide;
            break;
        case u'I':
            if (p[1] == u'6' && p[2] == u'4') {
                d.length = LengthMod::LongLong;
                p += 3;
            } else if (p[1] == u'3' && p[2] == u'2') {
                d.length = LengthMod::None;
                p += 3;
            } else {
                d.length = LengthMod::Size;
                ++p;
            }
            break;
        default:
            break;
        }
        char16_t conversion = *p;
        if (conversion != 0)
            ++p;
        switch (conversion) {
        case u'd':
        case u'i':
            PutSigned(sink, d, 'd', ap);
            break;
        case u'u':
        case u'o':
        case u'x':
        case u'X':
            PutUnsigned(sink, d, static_cast<char>(conversion), ap);
            break;
        case u'c':
        case u'C': {
            int value = va_arg(ap, int);
            bool narrow = d.length == LengthMod::Short || (conversion == u'C' && d.length == LengthMod::None);
            char16_t unit = narrow ? static_cast<unsigned char>(value) : static_cast<char16_t>(value);
            PutPadded(sink, d, &unit, 1);
            break;
        }
        case u's':
        case u'S': {
            bool narrow = d.length == LengthMod::Short || (conversion == u'S' && d.length == LengthMod::None);
            if (narrow)
                PutNarrowString(sink, d, va_arg(ap, const char*));
            else
                PutWideString(sink, d, va_arg(ap, const char16_t*));
            break;
        }
        case u'f':
        case u'F':
        case u'e':
        case u'E':
        case u'g':
        case u'G':
        case u'a':
        case u'A':
            if (d.length == LengthMod::LongDouble)
                PutNumber(sink, NarrowSpec(d, "L", static_cast<char>(conversion)), va_arg(ap, long double));
            else
                PutNumber(sink, NarrowSpec(d, "", static_cast<char>(conversion)), va_arg(ap, double));
            break;
        case u'p': {
            Directive hex = d;
            hex.alternate = false;
            sink.PutNarrow("0x", 2);
            PutNumber(sink, NarrowSpec(hex, "ll", 'x'),
                      static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(va_arg(ap, void*))));
            break;
        }
        case u'n':
            // Writing through a pointer taken from the arguments is refused; the argument is skipped.
            (void)va_arg(ap, void*);
            break;
        default:
            // An unknown or cut directive is printed as it stands.
            sink.PutUnits(start, static_cast<size_t>(p - start));
            break;
        }
    }
    va_end(ap);
    return sink.count;
}

} // namespace mistvale
