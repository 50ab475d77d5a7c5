#pragma once

#include "model/locked_list.h"
#include "model/record.h"

#include <memory>
#include <mutex>

namespace mistvale {

// What the device layer learns of a group's device during a run (how many registers it takes in one
// request, and the like); defined there. Never stored.
class GroupLinkState;

// One data connection: the local clock, a Modbus device on a serial line or one over TCP/IP.
// The parameter is the connection path. The group owns its sources.
class Group : public Record {
public:
    Group();           // name "Group" (string 21), parameter "Clock", no sources
    ~Group() override; // deletes all sources first

    // The group's sources in display and file order (records are Source objects). Use AddSource of
    // MonitorTree (or Append after setting the source's group) to add; walk under SharedLock.
    LockedList& Sources() { return sources_; }
    const LockedList& Sources() const { return sources_; }

    // The device layer's state of this group for the run; nullptr until it makes one.
    std::shared_ptr<GroupLinkState> LinkState() const;
    void SetLinkState(std::shared_ptr<GroupLinkState> state);

private:
    LockedList sources_;
    mutable std::mutex linkStateLock_;
    std::shared_ptr<GroupLinkState> linkState_;
};

} // namespace mistvale
