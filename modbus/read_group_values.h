#pragma once

#include <atomic>
#include <cstddef>

namespace mistvale {

class Group;
class Source;

// Reads the given sources of one group in one pass (a line thread). Clock groups give the date or
// time. A Modbus group opens its link once for the pass: sources of the same function whose registers
// lie close together are read with one request (at most 125 registers or 2,000 bits), and each source
// then gets its own value text, history sample and failure reason as if read alone. A block the device
// answers with an exception is read source by source in the same pass; a block that gets no reply from
// a slave that answered otherwise is asked in smaller pieces from the next pass on, remembered with the
// group for the run. After a request without a proper reply the slave is asked nothing more in that
// pass: its other sources fail with the same reason. Ends early, leaving the rest as they were, once
// stop is set. Other kinds change nothing. Returns 0 when the group's link could not be opened (port
// missing, busy or not permitted, connect refused or timed out), 1 otherwise.
int ReadGroupValues(Group& group, Source* const* sources, std::size_t count, const std::atomic<bool>& stop);

} // namespace mistvale
