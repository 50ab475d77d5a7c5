#pragma once

#include <cstdint>
#include <string>

namespace mistvale {

// Self-description registers of devices that describe their own register table.
constexpr uint16_t kRegisterMapSignatureAddress = 0xFF10;
constexpr uint16_t kRegisterMapSignature = 0x7601;
constexpr uint16_t kRegisterMapTableStartAddress = 0xFF11;
constexpr uint16_t kRegisterMapDataStartAddress = 0xFF12;
constexpr uint16_t kRegisterMapTableLengthAddress = 0xFF13;

// Turns the descriptors of a register table, fed one at a time in table order, into source names and
// register paths. A float or text value spans several consecutive equal descriptors and becomes one
// source; a text run's path grows with the run.
class RegisterMapDecoder {
public:
    enum Action {
        kNothing = 0,   // empty entry, or a float run goes on
        kNewSource = 1, // create a source with name and path
        kRewriteRun = 2 // the source of the current run gets the new path
    };

    RegisterMapDecoder(uint32_t tableStart, uint32_t dataStart);

    // Descriptor at table address; fills name and path as the action needs.
    Action Feed(uint32_t tableAddress, uint16_t descriptor, std::string* name, std::string* path);

    // The name a descriptor's item code and channel give ("Language", "Channel 1 - Value", ...).
    static std::string ItemName(uint16_t descriptor);

private:
    uint32_t tableStart_;
    uint32_t dataStart_;
    uint16_t previous_ = 0;
    uint32_t runStart_ = 0;
    uint32_t runData_ = 0;
    bool haveRun_ = false;
};

} // namespace mistvale
