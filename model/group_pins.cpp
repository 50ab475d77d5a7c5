#include "model/group_pins.h"

namespace mistvale {

bool GroupPins::TryPin(const Group* group) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_.count(group) != 0)
        return false;
    ++pins_[group];
    return true;
}

void GroupPins::Unpin(const Group* group) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = pins_.find(group);
    if (found == pins_.end())
        return;
    if (--found->second == 0) {
        pins_.erase(found);
        released_.notify_all();
    }
}

void GroupPins::Open(const Group* group) {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_.erase(group);
}

} // namespace mistvale
