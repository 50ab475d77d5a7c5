#include "modbus/write_source_value.h"

#include "modbus/connection_path.h"
#include "modbus/failure_reason.h"
#include "modbus/modbus_link.h"
#include "modbus/register_path.h"
#include "modbus/value_format.h"
#include "model/group.h"
#include "model/source.h"
#include "platform/string_table.h"

#include <vector>

namespace mistvale {

namespace {

int WriteModbusValue(Group& group, Source& source, const WideString& typed, std::string* reason) {
    ConnectionKind kind = ConnectionKindOf(group);
    if (kind != ConnectionKind::Serial && kind != ConnectionKind::Tcp) {
        *reason = kReasonNoConnection;
        return 0;
    }
    RegisterPath reg;
    if (!ParseRegisterPath(source.Parameter(), &reg)) {
        *reason = kReasonBadRegisterPath;
        return 0;
    }
    *reason = kReasonNotANumber;
    std::u16string text = typed.ToU16String();

    // Parse before touching the device: a text that does not fit the format sends nothing.
    std::vector<uint16_t> words;
    switch (reg.format) {
    case ValueFormat::Float: {
        float f = 0;
        if (!ParseTypedFloat(text, &f))
            return 0;
        uint16_t low = 0, high = 0;
        RegistersFromFloat(f, &low, &high);
        words = {low, high};
        break;
    }
    case ValueFormat::Hex:
    case ValueFormat::Decimal: {
        uint32_t v = 0;
        if (!(reg.format == ValueFormat::Hex ? ParseTypedHex(text, &v) : ParseTypedUnsigned(text, &v)))
            return 0;
        words = {static_cast<uint16_t>(v & 0xFFFF)};
        break;
    }
    case ValueFormat::Text:
        if (text.empty())
            return 0;
        words = EncodeTextRegisters(text);
        break;
    }

    // A run past the last register would wrap around onto register 0.
    if (static_cast<size_t>(reg.address) + words.size() > 0x10000)
        return 0;

    ModbusLink link;
    unsigned slave = 1;
    int ok = 0;
    const bool opened = OpenModbusLink(group, link, &slave) != 0;
    if (opened) {
        ok = 1;
        // Registers in rising order; the first failed write ends the whole write.
        for (size_t i = 0; i < words.size(); ++i) {
            if (!link.WriteItem(slave, static_cast<unsigned>(reg.address) + static_cast<unsigned>(i),
                                reg.function, words[i])) {
                ok = 0;
                break;
            }
        }
    }
    if (!ok)
        *reason = DescribeLinkFailure(ParseConnectionPath(group.Parameter()), link.LastError(), !opened,
                                      link.DevicePath(), link.ResponseTimeoutUs());
    link.Disconnect();
    return ok;
}

} // namespace

int WriteSourceValue(Group& group, Source& source, const WideString& typed) {
    std::string reason;
    if (WriteModbusValue(group, source, typed, &reason)) {
        source.SetValue(typed);
        return 1;
    }
    source.SetFailedValue(WideString(Text(kStrCantSetValue)), reason);
    return 0;
}

int WriteSourceValue(Source& source, const WideString& typed) {
    Group* group = source.GetGroup();
    if (!group) {
        source.SetFailedValue(WideString(Text(kStrCantSetValue)), kReasonNoConnection);
        return 0;
    }
    return WriteSourceValue(*group, source, typed);
}

} // namespace mistvale
