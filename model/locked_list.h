#pragma once

#include "model/list_item.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>

namespace mistvale {

// Intrusive doubly linked list of ListItem records with a shared/exclusive lock.
//
// Readers take the shared lock: the first reader (count 0) passes through the exclusive lock and
// marks "readers inside"; later readers only raise the count, so a thread that already holds the
// shared lock can take it again even while a writer waits. A writer takes the exclusive lock and then
// waits until no reader is inside; new first readers queue behind the writer on the exclusive lock.
// The exclusive lock is recursive, and a writer's own shared locks pass at once, so a writer may call
// every list operation (which lock again), also while readers wait. A thread that holds the shared
// lock must never ask for the exclusive lock of the same list.
class LockedList {
public:
    LockedList();
    ~LockedList(); // deletes every record still listed
    LockedList(const LockedList&) = delete;
    LockedList& operator=(const LockedList&) = delete;

    void Append(ListItem* item); // exclusive; appends at the tail (nullptr is ignored)
    int Unlink(ListItem* item);  // exclusive; 1 when the item was found and unlinked
    [[nodiscard]] int Contains(const ListItem* item) const; // shared; compares addresses
    [[nodiscard]] std::size_t Count() const;                // shared
    void DeleteAll();                                       // exclusive; unlinks and deletes from the head on
    ListItem* TakeFirst(); // exclusive; unlinks and returns the head (or nullptr)

    // Walking from the head: only inside the caller's own shared or exclusive lock.
    ListItem* First() const { return head_; }
    ListItem* Last() const { return tail_; }

    // Reading does not change the list: the shared lock may be taken through a const list.
    void LockShared() const;
    void UnlockShared() const;
    void LockExclusive();
    void UnlockExclusive();

private:
    // Takes the first item out; the caller holds the exclusive lock.
    ListItem* UnlinkFirst();
    ListItem* head_ = nullptr;
    ListItem* tail_ = nullptr;
    mutable std::recursive_mutex exclusive_;
    // The writer inside and how often it took the exclusive lock; written only by that writer.
    std::atomic<std::thread::id> owner_{};
    int ownerDepth_ = 0;
    mutable std::mutex countMutex_;
    mutable int readers_ = 0;
    // Manual-reset "no reader inside" event, initially signalled.
    mutable std::mutex eventMutex_;
    mutable std::condition_variable eventCv_;
    mutable bool noReaders_ = true;
};

// RAII guard for the shared lock of a LockedList.
class SharedLock {
public:
    explicit SharedLock(const LockedList& list) : list_(list) { list_.LockShared(); }
    ~SharedLock() { list_.UnlockShared(); }
    SharedLock(const SharedLock&) = delete;
    SharedLock& operator=(const SharedLock&) = delete;

private:
    const LockedList& list_;
};

// RAII guard for the exclusive lock of a LockedList.
class ExclusiveLock {
public:
    explicit ExclusiveLock(LockedList& list) : list_(list) { list_.LockExclusive(); }
    ~ExclusiveLock() { list_.UnlockExclusive(); }
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;

private:
    LockedList& list_;
};

} // namespace mistvale
