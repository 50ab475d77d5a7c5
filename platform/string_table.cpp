#include "platform/string_table.h"

#include <utility>

namespace mistvale {

// The program's strings; index 0 is id 1.
static const char16_t* const g_strings[] = {
    u"Create",                                                        // 1
    u"Cancel",                                                        // 2
    u"Name",                                                          // 3
    u"Value",                                                         // 4
    u"Add Group",                                                     // 5
    u"Add Source",                                                    // 6
    u"Search for Modbus Devices",                                     // 7
    u"Options",                                                       // 8
    u"Automatically check for updates",                               // 9
    u"Seconds",                                                       // 10
    u"Refresh Rate",                                                  // 11
    u"OK",                                                            // 12
    u"Clock",                                                         // 13
    u"Modbus Serial Port",                                            // 14
    u"Serial Port",                                                   // 15
    u"Baud Rate",                                                     // 16
    u"Parity",                                                        // 17
    u"Modbus TCP/IP",                                                 // 18
    u"Server",                                                        // 19
    u"Port",                                                          // 20
    u"Group",                                                         // 21
    u"Device",                                                        // 22
    u"Edit",                                                          // 23
    u"Delete",                                                        // 24
    u"Parameter",                                                     // 25
    u"Source",                                                        // 26
    u"Do you want to delete the group '%1' and all of it's sources?", // 27
    u"Do you want to delete the source '%1'?",                        // 28
    u"Add",                                                           // 29
    u"Device at address 0x%02X",                                      // 30
    u"Unknown Device",                                                // 31
    u"Vendor",                                                        // 32
    u"Product",                                                       // 33
    u"Version",                                                       // 34
    u"Serial Number",                                                 // 35
    u"Search",                                                        // 36
    u"Can't get value.",                                              // 37
    u"Add all Modbus Registers",                                      // 38
    u"Can't set value.",                                              // 39
};

static const int kStringCount = static_cast<int>(sizeof g_strings / sizeof g_strings[0]);

const char16_t* Text(int id) {
    if (id < 1 || id > kStringCount)
        return u"?";
    return g_strings[id - 1];
}

int Text(int id, WideString& out) {
    out.Assign(Text(id));
    return id >= 1 && id <= kStringCount ? 1 : 0;
}

static bool IsOneOf(char16_t c, const char16_t* set) {
    for (; *set != 0; ++set)
        if (*set == c)
            return true;
    return false;
}

// Formats one argument with the printf directive between the exclamation marks (e.g. "04X", "-8s",
// ".3f"). The argument's own type decides how it is passed, whatever length modifier the directive
// names, so a mismatch can never read the wrong type. Returns 0 for a directive it cannot apply.
static int FormatOne(WideString& piece, const char16_t* directive, int specLength, const TextArg& arg) {
    // flags, width and precision, kept as they stand
    WideString prefix(u"%");
    int i = 0;
    while (i < specLength && IsOneOf(directive[i], u"-+ #0"))
        prefix.AppendChar(directive[i++]);
    while (i < specLength && directive[i] >= u'0' && directive[i] <= u'9')
        prefix.AppendChar(directive[i++]);
    if (i < specLength && directive[i] == u'.') {
        prefix.AppendChar(directive[i++]);
        while (i < specLength && directive[i] >= u'0' && directive[i] <= u'9')
            prefix.AppendChar(directive[i++]);
    }
    // length modifiers are dropped: the argument's kind gives the size
    while (i < specLength && IsOneOf(directive[i], u"hlLqjztwI3624"))
        ++i;
    if (i != specLength - 1)
        return 0;
    char16_t conversion = directive[i];
    bool isText = IsOneOf(conversion, u"sS");
    bool isInteger = IsOneOf(conversion, u"diuoxXc");
    bool isReal = IsOneOf(conversion, u"fFeEgGaA");
    if (!isText && !isInteger && !isReal)
        return 0;
    WideString format(prefix);
    switch (arg.ArgKind()) {
    case TextArg::Kind::Text:
        format.Append(u"s");
        return piece.Format(format.Text(), arg.Text());
    case TextArg::Kind::Signed:
    case TextArg::Kind::Unsigned: {
        bool isSigned = arg.ArgKind() == TextArg::Kind::Signed;
        if (isText) {
            WideString number;
            if (isSigned)
                number.Format(u"%lld", arg.SignedValue());
            else
                number.Format(u"%llu", arg.UnsignedValue());
            format.Append(u"s");
            return piece.Format(format.Text(), number.Text());
        }
        if (isReal) {
            format.AppendChar(conversion);
            double value =
                isSigned ? static_cast<double>(arg.SignedValue()) : static_cast<double>(arg.UnsignedValue());
            return piece.Format(format.Text(), value);
        }
        if (conversion == u'c') {
            format.AppendChar(u'c');
            return piece.Format(format.Text(),
                                static_cast<int>(isSigned ? arg.SignedValue() : arg.UnsignedValue()));
        }
        format.Append(u"ll");
        format.AppendChar(conversion);
        if (conversion == u'd' || conversion == u'i') {
            return piece.Format(format.Text(),
                                isSigned ? arg.SignedValue() : static_cast<long long>(arg.UnsignedValue()));
        }
        return piece.Format(format.Text(), isSigned ? static_cast<unsigned long long>(arg.SignedValue())
                                                    : arg.UnsignedValue());
    }
    case TextArg::Kind::Real:
        if (isText) {
            WideString number;
            number.Format(u"%g", arg.RealValue());
            format.Append(u"s");
            return piece.Format(format.Text(), number.Text());
        }
        if (isReal) {
            format.AppendChar(conversion);
            return piece.Format(format.Text(), arg.RealValue());
        }
        if (conversion == u'c')
            return 0;
        format.Append(u"ll");
        format.AppendChar(conversion == u'i' ? u'd' : conversion);
        return piece.Format(format.Text(), static_cast<long long>(arg.RealValue()));
    }
    return 0;
}

int FormatInserts(WideString& out, const char16_t* pattern, std::initializer_list<TextArg> args) {
    if (pattern == nullptr)
        pattern = u"";
    WideString result;
    WideString piece;
    int ok = 1;
    const char16_t* p = pattern;
    while (*p != 0) {
        if (*p != u'%') {
            const char16_t* run = p;
            while (*p != 0 && *p != u'%')
                ++p;
            result.Append(run, static_cast<int>(p - run));
            continue;
        }
        const char16_t* start = p++;
        char16_t c = *p;
        if (c == 0)
            break;
        if (c == u'0')
            break;
        if (c >= u'1' && c <= u'9') {
            int number = c - u'0';
            ++p;
            if (*p >= u'0' && *p <= u'9') {
                number = number * 10 + (*p - u'0');
                ++p;
            }
            const char16_t* directive = u"s";
            int specLength = 1;
            if (*p == u'!') {
                const char16_t* close = p + 1;
                while (*close != 0 && *close != u'!')
                    ++close;
                if (*close == 0) {
                    // An unclosed directive: the rest is left as typed.
                    result.Append(start);
                    ok = 0;
                    break;
                }
                directive = p + 1;
                specLength = static_cast<int>(close - directive);
                p = close + 1;
            }
            if (number > static_cast<int>(args.size())) {
                result.Append(start, static_cast<int>(p - start));
                ok = 0;
                continue;
            }
            const TextArg& arg = args.begin()[number - 1];
            if (specLength == 1 && directive[0] == u's' && arg.ArgKind() == TextArg::Kind::Text) {
                // The plain insert: the argument's text goes in unchanged and is never scanned again.
                result.Append(arg.Text());
            } else if (specLength > 0 && FormatOne(piece, directive, specLength, arg)) {
                result.Append(piece);
            } else {
                result.Append(start, static_cast<int>(p - start));
                ok = 0;
            }
            continue;
        }
        ++p;
        switch (c) {
        case u'n':
            result.AppendChar(u'\n');
            break;
        case u't':
            result.AppendChar(u'\t');
            break;
        case u'r':
            result.AppendChar(u'\r');
            break;
        default:
            result.AppendChar(c);
            break;
        }
    }
    if (result.Length() > kStringTableMaxLength) {
        int cut = kStringTableMaxLength;
        char16_t last = result.At(cut - 1);
        if (last >= 0xD800 && last <= 0xDBFF)
            --cut;
        result.TruncateAt(cut);
    }
    out = std::move(result);
    return ok;
}

int FormatText(WideString& out, int id, std::initializer_list<TextArg> args) {
    if (id < 1 || id > kStringCount) {
        out.Assign(u"?");
        return 0;
    }
    return FormatInserts(out, g_strings[id - 1], args);
}

} // namespace mistvale
