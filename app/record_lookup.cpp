#include "app/record_lookup.h"

#include "model/group.h"
#include "model/locked_list.h"
#include "model/monitor_tree.h"
#include "model/source.h"

namespace mistvale {

namespace {

// The address a tree item carries for a record (see FillTreeRows: the Record* of the record).
const void* ItemDataOf(Record* record) {
    return static_cast<const void*>(record);
}

// Walks the listed records under their shared locks and calls found(group, source-or-null) for the one
// whose address is data. Returns 1 when found.
template <class Found> int FindListed(MonitorTree& tree, const void* data, Found found) {
    if (data == nullptr)
        return 0;
    LockedList& groups = tree.Groups();
    SharedLock groupsLock(groups);
    for (ListItem* item = groups.First(); item != nullptr; item = item->Next()) {
        Group* group = static_cast<Group*>(item);
        if (ItemDataOf(group) == data) {
            found(group, static_cast<Source*>(nullptr));
            return 1;
        }
        LockedList& sources = group->Sources();
        SharedLock sourcesLock(sources);
        for (ListItem* entry = sources.First(); entry != nullptr; entry = entry->Next()) {
            Source* source = static_cast<Source*>(entry);
            if (ItemDataOf(source) == data) {
                found(group, source);
                return 1;
            }
        }
    }
    return 0;
}

} // namespace

int LookUpRecord(MonitorTree& tree, const void* data, RecordSnapshot* snapshot) {
    return FindListed(
        tree, data,
        [snapshot](Group* group, Source* source) {
            if (snapshot == nullptr)
                return;
            snapshot->group = group;
            snapshot->source = source;
            if (source != nullptr) {
                snapshot->kind = RecordKind::Source;
                snapshot->name = source->Name();
                snapshot->parameter = source->Parameter();
            } else {
                snapshot->kind = RecordKind::Group;
                snapshot->name = group->Name();
                snapshot->parameter = group->Parameter();
            }
        });
}

int WithListedSource(MonitorTree& tree, const void* data, void (*action)(Source& source, void* context),
                     void* context) {
    int called = 0;
    FindListed(tree, data, [&](Group*, Source* source) {
        if (source != nullptr && action != nullptr) {
            action(*source, context);
            called = 1;
        }
    });
    return called;
}

void ListedSources::Update(MonitorTree& tree) {
    sources_.clear();
    LockedList& groups = tree.Groups();
    SharedLock groupsLock(groups);
    removals_ = tree.Removals();
    for (ListItem* g = groups.First(); g != nullptr; g = g->Next()) {
        Group* group = static_cast<Group*>(g);
        SharedLock sourcesLock(group->Sources());
        for (ListItem* s = group->Sources().First(); s != nullptr; s = s->Next())
            sources_.emplace(static_cast<const Record*>(static_cast<Source*>(s)), group);
    }
}

int ListedSources::With(MonitorTree& tree, const void* data, void (*action)(Source& source, void* context),
                        void* context) const {
    auto found = sources_.find(data);
    if (found == sources_.end() || action == nullptr)
        return 0;
    {
        // No removal began since Update: the group is still there, and with the group list's shared
        // lock held it stays (its removal needs the exclusive lock).
        SharedLock groupsLock(tree.Groups());
        if (tree.Removals() == removals_) {
            // Now nothing can leave the source list either; a source removal that began meanwhile
            // shows in the count.
            SharedLock sourcesLock(found->second->Sources());
            if (tree.Removals() == removals_) {
                action(*static_cast<Source*>(static_cast<Record*>(const_cast<void*>(data))), context);
                return 1;
            }
        }
    }
    return WithListedSource(tree, data, action, context);
}

int AddSourceIfListed(MonitorTree& tree, Group* group, Source* source) {
    if (group == nullptr || source == nullptr)
        return 0;
    LockedList& groups = tree.Groups();
    SharedLock groupsLock(groups);
    for (ListItem* item = groups.First(); item != nullptr; item = item->Next()) {
        // Compared as addresses: the group may be gone, so it is not touched before it is found.
        if (static_cast<const void*>(static_cast<Group*>(item)) == static_cast<const void*>(group))
            return tree.AddSource(group, source);
    }
    return 0;
}

} // namespace mistvale
