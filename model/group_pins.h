#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

namespace mistvale {

class Group;

// Keeps a group alive while a line thread works on it. A line pins the group (under the group list's
// shared lock, after checking that it is still listed) before it reads or writes its device; a removal
// closes the group to new pins and waits until the last one is gone before it unlinks and deletes.
class GroupPins {
public:
    // false when a removal of the group has begun.
    bool TryPin(const Group* group);
    void Unpin(const Group* group);
    // Closes the group to new pins and waits for the present ones to end; false as soon as giveUp
    // returns true (checked first, then at every release and every 50 ms), true when no pin is left.
    template <typename GiveUp> bool Close(const Group* group, GiveUp giveUp) {
        std::unique_lock<std::mutex> lock(mutex_);
        closed_.insert(group);
        for (;;) {
            if (giveUp())
                return false;
            if (pins_.find(group) == pins_.end())
                return true;
            released_.wait_for(lock, std::chrono::milliseconds(50));
        }
    }
    // Waits until no group is pinned, calling between() about every 10 ms meanwhile.
    template <typename Between> void WaitUntilNoPins(Between between) {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!pins_.empty()) {
            lock.unlock();
            between();
            lock.lock();
            released_.wait_for(lock, std::chrono::milliseconds(10), [this] { return pins_.empty(); });
        }
    }
    // Opens the address again (after the removal, or when it was given up).
    void Open(const Group* group);

private:
    std::mutex mutex_;
    std::condition_variable released_;
    std::unordered_map<const Group*, int> pins_;
    std::unordered_set<const Group*> closed_;
};

// Holds one pin for a scope; empty when the pin could not be taken.
class GroupPin {
public:
    GroupPin(GroupPins& pins, const Group* group)
        : pins_(pins), group_(pins.TryPin(group) ? group : nullptr) {}
    ~GroupPin() {
        if (group_ != nullptr)
            pins_.Unpin(group_);
    }
    GroupPin(const GroupPin&) = delete;
    GroupPin& operator=(const GroupPin&) = delete;
    explicit operator bool() const { return group_ != nullptr; }

private:
    GroupPins& pins_;
    const Group* group_;
};

} // namespace mistvale
