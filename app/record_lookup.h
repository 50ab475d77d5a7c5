#pragma once
// Finding a record the user-interface thread only knows by address (a tree item's data, the record
// last picked in the tree-list) among the records the model still lists.
//
// The worker deletes records at any time (a Delete job queued earlier), and a tree item keeps its
// record's address until the next rebuild, so such an address must never be dereferenced before it
// has been found in the model. The lookup compares addresses only, under the group list's shared lock
// (and the shared lock of each source list it walks); the worker's removals take the exclusive lock of
// the list they change, so whatever the lookup copies out of the record is read while it still exists.

#include "model/record.h"
#include "platform/wide_string.h"

#include <cstdint>
#include <unordered_map>

namespace mistvale {

class Group;
class MonitorTree;
class Source;

// What a command needs to know of a listed record, copied while it was held.
struct RecordSnapshot {
    RecordKind kind = RecordKind::Group;
    Group* group = nullptr;   // the record when it is a group, else the source's group
    Source* source = nullptr; // the record when it is a source, else nullptr
    WideString name;
    WideString parameter;
};

// 1 and a snapshot when data is the address of a group or source that the model lists; else 0 (the
// snapshot is then left empty). data nullptr gives 0.
int LookUpRecord(MonitorTree& tree, const void* data, RecordSnapshot* snapshot);

// Calls action(source, context) with the listed source whose address is data, while the locks are
// held, so the source stays alive for the call; 1 when found. The action must not block for long and
// must not take the exclusive lock of the group list or of the source's list.
int WithListedSource(MonitorTree& tree, const void* data, void (*action)(Source& source, void* context),
                     void* context);

// The sources the model listed at the last rebuild, each with its group, so that painting finds a
// cell's source without walking every list. A lookup holds the group list's and the source list's
// shared locks and trusts the set only while the model has removed nothing since Update; otherwise it
// falls back to WithListedSource.
class ListedSources {
public:
    // Notes every listed source (user-interface thread, at a rebuild).
    void Update(MonitorTree& tree);
    // As WithListedSource.
    int With(MonitorTree& tree, const void* data, void (*action)(Source& source, void* context),
             void* context) const;

private:
    std::unordered_map<const void*, Group*> sources_;
    std::uint64_t removals_ = 0;
};

// Appends a new source to group when the model still lists the group, holding the group list's shared
// lock so that the group cannot be deleted between the check and the append; 1 when appended (the
// group then owns the source), 0 when the group is gone (the caller still owns the source).
int AddSourceIfListed(MonitorTree& tree, Group* group, Source* source);

} // namespace mistvale
