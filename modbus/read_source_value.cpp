#include "modbus/read_source_value.h"

#include "modbus/connection_path.h"
#include "modbus/failure_reason.h"
#include "modbus/modbus_link.h"
#include "modbus/register_path.h"
#include "modbus/value_format.h"
#include "model/clock_reader.h"
#include "model/group.h"
#include "model/source.h"
#include "platform/string_table.h"

#include <string>

namespace mistvale {

namespace {

WideString FromAscii(const std::string& text) {
    WideString out;
    out.AssignAnsi(text.data(), static_cast<int>(text.size()), WideString::kCodePageLatin1);
    return out;
}

// Reads the source's register; on success leaves the value text and the history sample to store, on
// failure the reason. *opened tells whether the group's link could be opened.
int ReadModbusValue(Group& group, Source& source, WideString* value, bool* haveSample, int16_t* sample,
                    bool* opened, std::string* reason) {
    RegisterPath reg;
    if (!ParseRegisterPath(source.Parameter(), &reg)) {
        *reason = kReasonBadRegisterPath;
        return 0;
    }
    ModbusLink link;
    unsigned slave = 1;
    int ok = 0;
    *opened = OpenModbusLink(group, link, &slave) != 0;
    if (*opened) {
        uint16_t items[2] = {0, 0};
        unsigned count = 0;
        switch (reg.format) {
        case ValueFormat::Float:
            count = 2;
            if (link.ReadItems(slave, reg.address, reg.function, &count, items, 0) && count == 2) {
                float f = FloatFromRegisters(items[0], items[1]);
                *value = FromAscii(FormatFloatValue(f));
                *sample = FloatSample(f);
                *haveSample = true;
                ok = 1;
            }
            break;
        case ValueFormat::Text: {
            std::u16string text;
            // One request per register; addresses do not wrap past the last register.
            uint32_t n = reg.textCount;
            if (n > 0x10000u - reg.address)
                n = 0x10000u - reg.address;
            uint32_t read = 0;
            for (uint32_t i = 0; i < n; ++i) {
                count = 1;
                if (!link.ReadItems(slave, reg.address + i, reg.function, &count, items, 0) || count != 1)
                    break;
                AppendRegisterText(&text, items[0]);
                ++read;
            }
            if (read > 0) {
                value->Assign(text.c_str(), static_cast<int>(text.size()));
                ok = 1;
            }
            break;
        }
        case ValueFormat::Hex:
        case ValueFormat::Decimal:
            count = 1;
            if (link.ReadItems(slave, reg.address, reg.function, &count, items, 0) && count == 1) {
                *value = FromAscii(reg.format == ValueFormat::Hex ? FormatHexValue(items[0])
                                                                  : FormatDecimalValue(items[0]));
                *sample = static_cast<int16_t>(items[0]);
                *haveSample = true;
                ok = 1;
            }
            break;
        }
    }
    if (!ok)
        *reason = DescribeLinkFailure(ParseConnectionPath(group.Parameter()), link.LastError(), !*opened,
                                      link.DevicePath(), link.ResponseTimeoutUs());
    link.Disconnect();
    return ok;
}

} // namespace

int ReadSourceValue(Group& group, Source& source) {
    switch (ConnectionKindOf(group)) {
    case ConnectionKind::Clock:
        ReadClockValue(source);
        return 1;
    case ConnectionKind::Serial:
    case ConnectionKind::Tcp:
        break;
    default:
        return 1;
    }
    WideString value;
    bool haveSample = false;
    int16_t sample = 0;
    // A source whose path does not parse never tries the link; that says nothing about the group.
    bool opened = true;
    std::string reason;
    if (ReadModbusValue(group, source, &value, &haveSample, &sample, &opened, &reason)) {
        source.SetValue(value);
        if (haveSample)
            source.AppendSample(sample);
    } else {
        source.SetFailedValue(WideString(Text(kStrCantGetValue)), reason);
    }
    return opened ? 1 : 0;
}

void ReadSourceValue(Source& source) {
    Group* group = source.GetGroup();
    if (group)
        ReadSourceValue(*group, source);
}

} // namespace mistvale
