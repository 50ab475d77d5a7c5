#include "modbus/write_source_value.h"

#include "modbus/connection_path.h"
#include "modbus/failure_reason.h"
#include "modbus/group_link_state.h"
#include "modbus/modbus_link.h"
#include "modbus/register_path.h"
#include "modbus/typed_number.h"
#include "modbus/value_format.h"
#include "model/group.h"
#include "model/source.h"
#include "platform/string_table.h"

#include <algorithm>
#include <memory>
#include <modbus/modbus.h>
#include <mutex>
#include <string>
#include <vector>

namespace mistvale {

namespace {

// Registers one Write Multiple Registers request carries at most.
constexpr size_t kMaxWriteRegisters = 123;

// Why a source of this read function cannot be written; nullptr when it can (coils and holding
// registers). Writing such a source with the register functions would change another table's register
// at the same address.
const char* ReadOnlyReason(uint32_t function) {
    switch (function) {
    case 1:
    case 3:
        return nullptr;
    case 2:
        return "Discrete inputs are read-only";
    case 4:
        return "Input registers are read-only";
    case 7:
        return "Exception status cannot be written";
    case 9:
        return "Function 9 values cannot be written";
    default:
        return "Values read with this function cannot be written";
    }
}

// Writes the registers of one value: one Write Multiple Registers request for each 123 of them, or one
// Write Single Register request each for a device that refuses function 16 (remembered for the run).
int WriteRegisterRun(ModbusLink& link, unsigned slave, const RegisterPath& reg,
                     const std::vector<uint16_t>& words, GroupLinkState& state) {
    const unsigned first = reg.address;
    if (words.size() == 1)
        return link.WriteItem(slave, first, reg.function, words[0]);
    if (!state.singleWrites) {
        size_t done = 0;
        while (done < words.size()) {
            const unsigned n =
                static_cast<unsigned>(std::min<size_t>(kMaxWriteRegisters, words.size() - done));
            if (!link.WriteRegisters(slave, first + static_cast<unsigned>(done), words.data() + done, n))
                break;
            done += n;
        }
        if (done == words.size())
            return 1;
        // A device without function 16 says so before anything is written; any other failure stands.
        if (done != 0 || link.LastError() != MODBUS_ENOBASE + MODBUS_EXCEPTION_ILLEGAL_FUNCTION)
            return 0;
        state.singleWrites = true;
    }
    // Registers in rising order; the first failed write ends the whole write.
    for (size_t i = 0; i < words.size(); ++i)
        if (!link.WriteItem(slave, first + static_cast<unsigned>(i), reg.function, words[i]))
            return 0;
    return 1;
}

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
    if (const char* readOnly = ReadOnlyReason(reg.function)) {
        *reason = readOnly;
        return 0;
    }
    *reason = kReasonNotANumber;
    std::u16string text = typed.ToU16String();

    // Parse before touching the device: a text that does not fit the format sends nothing.
    std::vector<uint16_t> words;
    switch (reg.format) {
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
        if (reg.textCountGiven) {
            // The source owns its registers and no more: a longer text would overwrite the next
            // source's, a shorter one is padded so that none of the old characters stay behind.
            if (words.size() > reg.textCount) {
                *reason = "The text is longer than the source's " + std::to_string(reg.textCount) +
                          " registers (" + std::to_string(2 * static_cast<uint64_t>(reg.textCount)) +
                          " characters)";
                return 0;
            }
            words.resize(reg.textCount, 0);
        }
        break;
    default:
        if (!EncodeTypedNumber(reg, text, &words, reason))
            return 0;
        break;
    }

    // A run past the last register would wrap around onto register 0.
    if (static_cast<size_t>(reg.address) + words.size() > 0x10000)
        return 0;

    std::shared_ptr<GroupLinkState> state = LinkStateOf(group, group.Parameter());
    std::lock_guard<std::mutex> lock(state->Lock());
    ModbusLink link;
    unsigned slave = 1;
    int ok = 0;
    const bool opened = OpenModbusLink(group, link, &slave) != 0;
    if (opened) {
        if (reg.function == 1) {
            ok = 1;
            for (size_t i = 0; i < words.size() && ok; ++i)
                ok = link.WriteItem(slave, reg.address + static_cast<unsigned>(i), 1, words[i]);
        } else {
            ok = WriteRegisterRun(link, slave, reg, words, *state);
        }
    }
    if (!ok)
        *reason = DescribeLinkFailure(ParseConnectionPath(group.Parameter()), link.LastError(), !opened,
                                      link.DevicePath(), link.RequestDeadlineUs());
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
