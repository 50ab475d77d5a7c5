#include "model/group.h"

#include "platform/string_table.h"

#include <utility>

namespace mistvale {

Group::Group() : Record(RecordKind::Group) {
    SetNameAndParameter(WideString(Text(kStrGroup)), u"Clock");
}

Group::~Group() {
    sources_.DeleteAll();
}

std::shared_ptr<GroupLinkState> Group::LinkState() const {
    std::lock_guard<std::mutex> guard(linkStateLock_);
    return linkState_;
}

void Group::SetLinkState(std::shared_ptr<GroupLinkState> state) {
    std::lock_guard<std::mutex> guard(linkStateLock_);
    linkState_ = std::move(state);
}

} // namespace mistvale
