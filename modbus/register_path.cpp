#include "modbus/register_path.h"

#include "modbus/value_format.h"

#include <algorithm>
#include <iterator>
#include <string_view>

namespace mistvale {

namespace {

std::u16string U16(const WideString& s) {
    return std::u16string(s.View());
}

struct NumberType {
    const char16_t* name;
    ValueFormat format;
};

const NumberType kNumberTypes[] = {
    {u"float", ValueFormat::Float},   {u"uint16", ValueFormat::UInt16}, {u"int32", ValueFormat::Int32},
    {u"uint32", ValueFormat::UInt32}, {u"int64", ValueFormat::Int64},   {u"uint64", ValueFormat::UInt64},
    {u"double", ValueFormat::Double}, {u"bcd", ValueFormat::Bcd},
};

const struct {
    const char16_t* name;
    ByteOrder order;
} kOrders[] = {
    {u"abcd", ByteOrder::Abcd},
    {u"cdab", ByteOrder::Cdab},
    {u"badc", ByteOrder::Badc},
    {u"dcba", ByteOrder::Dcba},
};

bool SameNoCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i] >= u'A' && a[i] <= u'Z' ? static_cast<char16_t>(a[i] + 32) : a[i];
        if (x != b[i])
            return false;
    }
    return true;
}

// "type" or "type:order". A word that names no type, or an order that names none, leaves the path's
// decimal format as any unknown word does.
void ParseNumberToken(std::u16string_view token, RegisterPath* out) {
    const size_t colon = token.find(u':');
    const std::u16string_view type = token.substr(0, colon);
    for (const NumberType& known : kNumberTypes) {
        if (!SameNoCase(type, known.name))
            continue;
        // Trees made before orders existed read their floats low word first.
        ByteOrder order = known.format == ValueFormat::Float ? ByteOrder::Cdab : ByteOrder::Abcd;
        if (colon != std::u16string_view::npos) {
            const std::u16string_view named = token.substr(colon + 1);
            auto found = std::find_if(std::begin(kOrders), std::end(kOrders),
                                      [&](const auto& o) { return SameNoCase(named, o.name); });
            if (found == std::end(kOrders))
                return;
            order = found->order;
        }
        out->format = known.format;
        out->order = order;
        return;
    }
}

} // namespace

int ParseRegisterPath(const WideString& path, RegisterPath* out) {
    WideString rest(path);
    WideString token;
    if (!rest.NextToken(token, u"/"))
        return 0;
    RegisterPath parsed;
    std::u16string reg = U16(token);
    if (reg.find(u'#') != std::u16string::npos) {
        // Like the wcstok splitting it stands for: leading '#' are skipped, the first piece is the
        // function code and the text after its '#' the address.
        size_t start = reg.find_first_not_of(u'#');
        if (start == std::u16string::npos)
            return 0;
        size_t mark = reg.find(u'#', start);
        std::u16string code =
            reg.substr(start, mark == std::u16string::npos ? std::u16string::npos : mark - start);
        uint32_t function = 0;
        if (ParseTypedHex(code, &function))
            parsed.function = function;
        if (mark == std::u16string::npos)
            return 0;
        size_t addressStart = reg.find_first_not_of(u'#', mark);
        reg = addressStart == std::u16string::npos ? std::u16string() : reg.substr(addressStart);
    }
    uint32_t address = 0;
    if (!ParseTypedUnsigned(reg, &address))
        return 0;
    parsed.address = static_cast<uint16_t>(address & 0xFFFF);
    if (rest.NextToken(token, u"/")) {
        if (token.CompareNoCase(u"hex") == 0) {
            parsed.format = ValueFormat::Hex;
        } else if (token.CompareNoCaseN(u"string", 6) == 0) {
            parsed.format = ValueFormat::Text;
            uint32_t count = 1;
            std::u16string tail = U16(token).substr(6);
            if (ParseTypedUnsigned(tail, &count))
                parsed.textCountGiven = true;
            else
                count = 1;
            parsed.textCount = count;
        } else {
            ParseNumberToken(U16(token), &parsed);
        }
    }
    *out = parsed;
    return 1;
}

void RegisterPathBounds(const WideString& path, uint32_t* min, uint32_t* max) {
    *min = 0;
    *max = 100;
    WideString rest(path);
    WideString token;
    for (int i = 0; i < 2; ++i)
        if (!rest.NextToken(token, u"/"))
            return;
    uint32_t v = 0;
    if (!rest.NextToken(token, u"/"))
        return;
    if (ParseTypedUnsigned(U16(token), &v))
        *min = v;
    if (!rest.NextToken(token, u"/"))
        return;
    if (ParseTypedUnsigned(U16(token), &v))
        *max = v;
}

uint32_t CellValueOfText(const WideString& value) {
    uint32_t v = 0;
    if (!ParseTypedUnsigned(U16(value), &v))
        return 0;
    return v;
}

} // namespace mistvale
