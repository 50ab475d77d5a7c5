#pragma once

#include "model/locked_list.h"
#include "model/record.h"

namespace mistvale {

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

private:
    LockedList sources_;
};

} // namespace mistvale
