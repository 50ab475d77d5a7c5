#pragma once

#include <string>

namespace mistvale {

class Group;
class MonitorTree;

// Adds one source for every value the group's device describes in its register table (signature
// 0x7601 at 0xFF10, table start, data start and table length after it). Sources are appended one at
// a time; a descriptor read that fails part-way keeps those added so far. A device without the
// signature, an unreachable device or a Clock group adds nothing. Returns the number of sources added;
// when it is 0, *why (when given) says why in a person's words.
int AddAllRegisters(MonitorTree& tree, Group& group, std::string* why = nullptr);

} // namespace mistvale
