#include "model/locked_list.h"

namespace mistvale {

LockedList::LockedList() = default;

LockedList::~LockedList() {
    DeleteAll();
}

void LockedList::LockShared() const {
    if (owner_.load() == std::this_thread::get_id())
        return; // the writer inside reads its own list
    {
        std::lock_guard<std::mutex> countGuard(countMutex_);
        if (readers_ > 0) {
            ++readers_;
            return;
        }
    }
    // The first reader passes through the exclusive lock: it waits for a writer inside, and a writer
    // that comes later waits for the readers. The count lock is not held while waiting, or a writer
    // inside that reads its own list would wait for it.
    std::lock_guard<std::recursive_mutex> exclusiveGuard(exclusive_);
    std::lock_guard<std::mutex> countGuard(countMutex_);
    if (readers_++ == 0) {
        std::lock_guard<std::mutex> eventGuard(eventMutex_);
        noReaders_ = false;
    }
}

void LockedList::UnlockShared() const {
    if (owner_.load() == std::this_thread::get_id())
        return;
    std::lock_guard<std::mutex> countGuard(countMutex_);
    if (readers_ > 0 && --readers_ == 0) {
        std::lock_guard<std::mutex> eventGuard(eventMutex_);
        noReaders_ = true;
        eventCv_.notify_all();
    }
}

void LockedList::LockExclusive() {
    exclusive_.lock();
    if (ownerDepth_++ > 0)
        return;
    {
        std::unique_lock<std::mutex> eventGuard(eventMutex_);
        eventCv_.wait(eventGuard, [this] { return noReaders_; });
    }
    owner_.store(std::this_thread::get_id());
}

void LockedList::UnlockExclusive() {
    if (--ownerDepth_ == 0)
        owner_.store(std::thread::id());
    exclusive_.unlock();
}

void LockedList::Append(ListItem* item) {
    if (item == nullptr)
        return;
    ExclusiveLock lock(*this);
    item->next_ = nullptr;
    item->previous_ = tail_;
    if (tail_ != nullptr)
        tail_->next_ = item;
    else
        head_ = item;
    tail_ = item;
}

int LockedList::Unlink(ListItem* item) {
    if (item == nullptr)
        return 0;
    ExclusiveLock lock(*this);
    ListItem* walk = head_;
    while (walk != nullptr && walk != item)
        walk = walk->next_;
    if (walk == nullptr)
        return 0;
    if (item->previous_ != nullptr)
        item->previous_->next_ = item->next_;
    else
        head_ = item->next_;
    if (item->next_ != nullptr)
        item->next_->previous_ = item->previous_;
    else
        tail_ = item->previous_;
    item->next_ = nullptr;
    item->previous_ = nullptr;
    return 1;
}

int LockedList::Contains(const ListItem* item) const {
    if (item == nullptr)
        return 0;
    SharedLock lock(*this);
    for (const ListItem* walk = head_; walk != nullptr; walk = walk->next_)
        if (walk == item)
            return 1;
    return 0;
}

std::size_t LockedList::Count() const {
    SharedLock lock(*this);
    std::size_t count = 0;
    for (const ListItem* walk = head_; walk != nullptr; walk = walk->next_)
        ++count;
    return count;
}

ListItem* LockedList::UnlinkFirst() {
    ListItem* item = head_;
    if (item == nullptr)
        return nullptr;
    head_ = item->next_;
    if (head_ != nullptr)
        head_->previous_ = nullptr;
    else
        tail_ = nullptr;
    item->next_ = nullptr;
    item->previous_ = nullptr;
    return item;
}

ListItem* LockedList::TakeFirst() {
    ExclusiveLock lock(*this);
    return UnlinkFirst();
}

void LockedList::DeleteAll() {
    ExclusiveLock lock(*this);
    while (ListItem* item = UnlinkFirst())
        delete item;
}

} // namespace mistvale
