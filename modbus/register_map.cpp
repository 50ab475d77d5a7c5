#include "modbus/register_map.h"

#include <cstdio>

namespace mistvale {

namespace {

enum ItemKind { kWord, kFloatRun, kTextRun };

ItemKind KindOf(unsigned code) {
    switch (code) {
    case 1:
    case 139:
        return kTextRun;
    case 130:
    case 132:
    case 134:
    case 136:
    case 138:
        return kFloatRun;
    default:
        return kWord;
    }
}

} // namespace

RegisterMapDecoder::RegisterMapDecoder(uint32_t tableStart, uint32_t dataStart)
    : tableStart_(tableStart), dataStart_(dataStart) {}

std::string RegisterMapDecoder::ItemName(uint16_t descriptor) {
    unsigned code = descriptor & 0xFF;
    unsigned channel = descriptor >> 8;
    const char* item = nullptr;
    switch (code) {
    case 1:
        return "Language";
    case 129:
    case 130:
        item = "Scale Min";
        break;
    case 131:
    case 132:
        item = "Scale Max";
        break;
    case 133:
    case 134:
        item = "Value";
        break;
    case 135:
    case 136:
        item = "Alarm Threshold";
        break;
    case 137:
    case 138:
        item = "Sensor Current";
        break;
    case 139:
        item = "Name";
        break;
    default:
        break;
    }
    char buf[64];
    if (item)
        std::snprintf(buf, sizeof buf, "Channel %u - %s", channel, item);
    else
        std::snprintf(buf, sizeof buf, "Channel %u - Unknown Item 0x%02X", channel, code);
    return buf;
}

RegisterMapDecoder::Action RegisterMapDecoder::Feed(uint32_t tableAddress, uint16_t descriptor,
                                                    std::string* name, std::string* path) {
    unsigned code = descriptor & 0xFF;
    if (code == 0)
        return kNothing;
    uint32_t data = dataStart_ + (tableAddress - tableStart_);
    ItemKind kind = KindOf(code);
    char buf[48];
    if (kind != kWord) {
        if (haveRun_ && descriptor == previous_) {
            if (kind == kFloatRun)
                return kNothing;
            std::snprintf(buf, sizeof buf, "%u%s%u", runData_, "/string", tableAddress - runStart_ + 1);
            *path = buf;
            return kRewriteRun;
        }
        std::snprintf(buf, sizeof buf, "%u%s", data, kind == kFloatRun ? "/float" : "/string");
        *path = buf;
        *name = ItemName(descriptor);
        previous_ = descriptor;
        runStart_ = tableAddress;
        runData_ = data;
        haveRun_ = true;
        return kNewSource;
    }
    std::snprintf(buf, sizeof buf, "%u%s", data, "");
    *path = buf;
    *name = ItemName(descriptor);
    if (descriptor != previous_) {
        previous_ = descriptor;
        runStart_ = tableAddress;
        runData_ = data;
        haveRun_ = true;
    }
    return kNewSource;
}

} // namespace mistvale
