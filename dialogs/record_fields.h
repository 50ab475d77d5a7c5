#pragma once
// Safe access to the text fields of records that a dialog edits while the refresh worker runs.
//
// The worker may delete a listed record at any time (a Delete job queued before the dialog opened), so
// a dialog must not write into a record it only remembers by address. These helpers hold the group
// list's shared lock (and, for a source, the shared lock of its group's source list) while they check
// that the record is still listed and touch it; the worker's removals take the exclusive lock of the
// list they change and so wait until the helper is done. Name and parameter themselves are swapped in
// under the record's own field lock (Record::SetNameAndParameter), so a concurrent read of the path by
// a refresh sees either the old or the new text. User-interface thread.

#include "platform/wide_string.h"

#include <string>

namespace mistvale {

class Group;
class MonitorTree;
class Source;

// Copies name and parameter of a listed group / source; 0 (both emptied) when it is not listed.
int CopyListedGroupFields(MonitorTree& tree, const Group* group, WideString& name, WideString& parameter);
int CopyListedSourceFields(MonitorTree& tree, const Source* source, WideString& name, WideString& parameter);

// Stores name and parameter into the group when it is still listed; 1 when stored, 0 when it is gone.
int StoreListedGroupFields(MonitorTree& tree, Group* group, const WideString& name,
                           const WideString& parameter);
// The same for a source.
int StoreListedSourceFields(MonitorTree& tree, Source* source, const WideString& name,
                            const WideString& parameter);
// Copies the value text of a listed source into out; 0 (out emptied) when the source is gone.
int CopyListedSourceValue(MonitorTree& tree, const Source* source, WideString& out);
// The same, with what a write to it reaches in words (see DescribeValueTarget).
int CopyListedSourceValue(MonitorTree& tree, const Source* source, WideString& out, std::string& target);

} // namespace mistvale
