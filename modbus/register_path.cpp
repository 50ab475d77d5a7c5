#include "modbus/register_path.h"

#include "modbus/value_format.h"

namespace mistvale {

namespace {

std::u16string U16(const WideString& s) {
    return std::u16string(s.View());
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
        } else if (token.CompareNoCase(u"float") == 0) {
            parsed.format = ValueFormat::Float;
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
