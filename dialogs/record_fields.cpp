#include "dialogs/record_fields.h"

#include "modbus/value_target.h"
#include "model/group.h"
#include "model/locked_list.h"
#include "model/monitor_tree.h"
#include "model/source.h"

namespace mistvale {

// Calls action(source) with the source while both the group list and the source's list are held
// shared, so that neither the source nor its group can be removed meanwhile. 1 when found.
template <class Action> static int WithListedSource(MonitorTree& tree, const Source* source, Action action) {
    if (source == nullptr)
        return 0;
    LockedList& groups = tree.Groups();
    SharedLock groupsLock(groups);
    for (ListItem* item = groups.First(); item != nullptr; item = item->Next()) {
        Group* group = static_cast<Group*>(item);
        LockedList& sources = group->Sources();
        SharedLock sourcesLock(sources);
        for (ListItem* entry = sources.First(); entry != nullptr; entry = entry->Next()) {
            if (entry == source) {
                action(*static_cast<Source*>(entry));
                return 1;
            }
        }
    }
    return 0;
}

template <class Action> static int WithListedGroup(MonitorTree& tree, const Group* group, Action action) {
    if (group == nullptr)
        return 0;
    LockedList& groups = tree.Groups();
    SharedLock groupsLock(groups);
    for (ListItem* item = groups.First(); item != nullptr; item = item->Next()) {
        if (item == group) {
            action(*static_cast<Group*>(item));
            return 1;
        }
    }
    return 0;
}

int CopyListedGroupFields(MonitorTree& tree, const Group* group, WideString& name, WideString& parameter) {
    name.Clear();
    parameter.Clear();
    return WithListedGroup(tree, group, [&](Group& listed) {
        name = listed.Name();
        parameter = listed.Parameter();
    });
}

int CopyListedSourceFields(MonitorTree& tree, const Source* source, WideString& name, WideString& parameter) {
    name.Clear();
    parameter.Clear();
    return WithListedSource(tree, source, [&](Source& listed) {
        name = listed.Name();
        parameter = listed.Parameter();
    });
}

int StoreListedGroupFields(MonitorTree& tree, Group* group, const WideString& name,
                           const WideString& parameter) {
    return WithListedGroup(
        tree, group, [&](Group& listed) { listed.SetNameAndParameter(name, parameter); });
}

int StoreListedSourceFields(MonitorTree& tree, Source* source, const WideString& name,
                            const WideString& parameter) {
    return WithListedSource(
        tree, source, [&](Source& listed) { listed.SetNameAndParameter(name, parameter); });
}

int CopyListedSourceValue(MonitorTree& tree, const Source* source, WideString& out) {
    out.Clear();
    return WithListedSource(tree, source, [&](Source& listed) { out = listed.Value(); });
}

int CopyListedSourceValue(MonitorTree& tree, const Source* source, WideString& out, std::string& target) {
    out.Clear();
    target.clear();
    return WithListedSource(tree, source, [&](Source& listed) {
        out = listed.Value();
        // The group cannot leave while its source list is held.
        const Group* group = listed.GetGroup();
        target = group != nullptr ? DescribeValueTarget(listed.Name(), group->Name(), group->Parameter(),
                                                        listed.Parameter())
                                  : listed.Name().ToUtf8();
    });
}

} // namespace mistvale
