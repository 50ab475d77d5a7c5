#pragma once

#include "modbus/register_path.h"
#include "platform/wide_string.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>

namespace mistvale {

class Group;
class Source;

// What one run learns of a group's device, kept with the group until the program ends or the group's
// connection path changes: how many items the device takes in one request, whether a block may span
// registers that no source shows, and which registers must be asked alone.
class GroupLinkState {
public:
    static constexpr unsigned kMaxRegisters = 125;
    static constexpr unsigned kMaxBits = 2000;

    explicit GroupLinkState(std::u16string path) : path_(std::move(path)) {}

    const std::u16string& Path() const { return path_; }
    // Held for a whole pass of the group (or a write), so that learning never races.
    std::mutex& Lock() { return lock_; }

    // Items per request for a read function (1 to 4).
    unsigned Limit(unsigned function) const;
    // After a block of count items of the function got no reply from a slave that answered otherwise:
    // the next passes ask for fewer.
    void Shrink(unsigned function, unsigned count);
    bool GapsAllowed(unsigned function) const;
    void ForbidGaps(unsigned function);
    // A register the device refused when asked alone is never part of a block again.
    void MarkLonely(unsigned function, unsigned address);
    // 1 when a register of [first, end) is lonely.
    bool HasLonelyIn(unsigned function, unsigned first, unsigned end) const;

    // The first request of the slave's last pass got no reply: the next pass asks for its first source
    // alone before any block, so that a slave that only refuses large requests is told from a silent one.
    bool probeFirst = false;
    // The register paths of the group's sources as last parsed, so that a pass parses only what
    // changed (the parameter's version decides; the address only finds the entry).
    struct ParsedPath {
        std::uint64_t version = 0;
        bool parsed = false;
        bool ok = false;
        RegisterPath reg;
    };
    std::unordered_map<const Source*, ParsedPath> parsed;

    // A request of the last pass got no reply, which may still arrive during a later request: the next
    // reply is trusted for its own request only, and the slave is asked more only once the line stays
    // quiet for as long as that reply could still come late.
    bool owing = false;
    // The request that went unanswered: the next pass asks it first, so that its late reply, should it
    // come then, is taken for nothing but its own registers.
    std::chrono::steady_clock::time_point owedAt{}; // when it was sent
    unsigned owedFunction = 0;
    unsigned owedStart = 0;
    unsigned owedCount = 0;
    // The device refused Write Multiple Registers: values of several registers go out one by one.
    bool singleWrites = false;

private:
    static unsigned Index(unsigned function) { return function >= 1 && function <= 4 ? function : 0; }

    std::u16string path_;
    std::mutex lock_;
    unsigned limit_[5] = {1, kMaxBits, kMaxBits, kMaxRegisters, kMaxRegisters};
    bool noGaps_[5] = {true, false, false, false, false};
    std::set<uint32_t> lonely_; // function << 16 | address
};

// The group's state for this run, made afresh when there is none or the group's path changed;
// groupPath is the group's connection path as the caller read it.
std::shared_ptr<GroupLinkState> LinkStateOf(Group& group, const WideString& groupPath);

} // namespace mistvale
