#include "modbus/register_map_job.h"

#include "modbus/connection_path.h"
#include "modbus/failure_reason.h"
#include "modbus/modbus_link.h"
#include "modbus/register_map.h"
#include "model/monitor_tree.h"

namespace mistvale {

namespace {

int ReadRegister(ModbusLink& link, unsigned slave, uint32_t address, uint16_t* value) {
    unsigned count = 1;
    return link.ReadItems(slave, address & 0xFFFF, 3, &count, value, 0) && count == 1 ? 1 : 0;
}

WideString FromAscii(const std::string& text) {
    WideString out;
    out.AssignAnsi(text.data(), static_cast<int>(text.size()), WideString::kCodePageLatin1);
    return out;
}

} // namespace

int AddAllRegisters(MonitorTree& tree, Group& group, std::string* why) {
    ModbusLink link;
    unsigned slave = 1;
    int added = 0;
    uint16_t signature = 0, tableStart = 0, dataStart = 0, tableLength = 0;
    std::string reason;
    const bool opened = OpenModbusLink(group, link, &slave) != 0;
    const bool read = opened && ReadRegister(link, slave, kRegisterMapSignatureAddress, &signature);
    if (!read) {
        reason = DescribeLinkFailure(ParseConnectionPath(group.Parameter()), link.LastError(), !opened,
                                     link.DevicePath(), link.RequestDeadlineUs());
    } else if (signature != kRegisterMapSignature) {
        reason = "The device has no register table (register 0xFF10 does not hold 0x7601)";
    } else if (ReadRegister(link, slave, kRegisterMapTableStartAddress, &tableStart) &&
               ReadRegister(link, slave, kRegisterMapDataStartAddress, &dataStart) &&
               ReadRegister(link, slave, kRegisterMapTableLengthAddress, &tableLength)) {
        RegisterMapDecoder decoder(tableStart, dataStart);
        Source* run = nullptr;
        const uint32_t end = static_cast<uint32_t>(tableStart) + tableLength;
        for (uint32_t a = tableStart; a < end; ++a) {
            uint16_t descriptor = 0;
            if (!ReadRegister(link, slave, a, &descriptor))
                break;
            std::string name, path;
            switch (decoder.Feed(a, descriptor, &name, &path)) {
            case RegisterMapDecoder::kNewSource: {
                Source* source = new Source();
                source->SetNameAndParameter(FromAscii(name), FromAscii(path));
                if (!tree.AddSource(&group, source)) {
                    delete source;
                    break;
                }
                run = source;
                ++added;
                break;
            }
            case RegisterMapDecoder::kRewriteRun:
                if (run)
                    run->SetParameter(FromAscii(path));
                break;
            case RegisterMapDecoder::kNothing:
                break;
            }
        }
        if (added == 0)
            reason = "The device's register table describes no value";
    } else {
        reason = "The device's register table could not be read";
    }
    if (why != nullptr)
        *why = added == 0 ? reason : std::string();
    link.Disconnect();
    return added;
}

} // namespace mistvale
