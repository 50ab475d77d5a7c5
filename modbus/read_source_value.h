#pragma once

class Group;
class Source;

// Reads one source of a group during a refresh. Clock groups give the date or time; Modbus groups read
// the register through a link opened for this one read and leave the formatted value, or "Can't get
// value.", in the source's value text (swapped in whole, never seen half-built). A successful read
// appends one sample to the source's history once the history exists. Other kinds change nothing.
void ReadSourceValue(Group& group, Source& source);

// ReadSourceValue with the source's own group (nothing when it has none).
void ReadSourceValue(Source& source);
