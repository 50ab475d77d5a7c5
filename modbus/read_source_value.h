#pragma once

namespace mistvale {

class Group;
class Source;

// Reads one source of a group on its own: a pass of ReadGroupValues over that one source, through a
// link opened for this one read. Clock groups give the date or time; Modbus groups leave the formatted
// value, or "Can't get value.", in the source's value text (swapped in whole, never seen half-built). A
// successful read appends one sample to the source's history once the history exists. Other kinds change
// nothing. Returns 0 when the group's link could not be opened (port missing, busy or not permitted, connect
// refused or timed out, a path that names no link), so that a refresh can give the group's other
// sources "Can't get value." without waiting for the same failure again; 1 otherwise.
int ReadSourceValue(Group& group, Source& source);

// ReadSourceValue with the source's own group (nothing when it has none).
void ReadSourceValue(Source& source);

} // namespace mistvale
