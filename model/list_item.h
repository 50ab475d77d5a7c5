#pragma once

namespace mistvale {

// Base of every record that lives in a LockedList. The links are maintained by the list alone; a
// record is in at most one list at a time and is deleted through the virtual destructor.
class ListItem {
public:
    ListItem() = default;
    virtual ~ListItem();
    ListItem(const ListItem&) = delete;
    ListItem& operator=(const ListItem&) = delete;

    // Walking: only inside the shared (or exclusive) lock of the list that holds the item.
    ListItem* Next() const { return next_; }
    ListItem* Previous() const { return previous_; }

private:
    friend class LockedList;
    ListItem* next_ = nullptr;
    ListItem* previous_ = nullptr;
};

} // namespace mistvale
