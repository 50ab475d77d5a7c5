#include "modbus/group_link_state.h"

#include "model/group.h"

namespace mistvale {

unsigned GroupLinkState::Limit(unsigned function) const {
    return limit_[Index(function)];
}

void GroupLinkState::Shrink(unsigned function, unsigned count) {
    const unsigned i = Index(function);
    if (i == 0)
        return;
    // Devices commonly take 16 registers (or 256 bits) when they take fewer than the standard's
    // largest request; below that every further refusal halves.
    const unsigned common = function <= 2 ? 256 : 16;
    unsigned next = count > common ? common : count / 2;
    if (next < 1)
        next = 1;
    if (next < limit_[i])
        limit_[i] = next;
}

bool GroupLinkState::GapsAllowed(unsigned function) const {
    return !noGaps_[Index(function)];
}

void GroupLinkState::ForbidGaps(unsigned function) {
    noGaps_[Index(function)] = true;
}

void GroupLinkState::MarkLonely(unsigned function, unsigned address) {
    lonely_.insert(function << 16 | (address & 0xFFFF));
}

bool GroupLinkState::HasLonelyIn(unsigned function, unsigned first, unsigned end) const {
    if (first >= end)
        return false;
    auto found = lonely_.lower_bound(function << 16 | (first & 0xFFFF));
    return found != lonely_.end() && *found < (function << 16) + end;
}

std::shared_ptr<GroupLinkState> LinkStateOf(Group& group, const WideString& groupPath) {
    std::shared_ptr<GroupLinkState> state = group.LinkState();
    const std::u16string path(groupPath.Text(), static_cast<std::size_t>(groupPath.Length()));
    if (!state || state->Path() != path) {
        // A new device (or a changed path) starts with nothing learned.
        state = std::make_shared<GroupLinkState>(path);
        group.SetLinkState(state);
    }
    return state;
}

} // namespace mistvale
