#pragma once
// How old a value is and what its Value cell says about it: a value not refreshed for longer than
// twice the refresh time plus one second has gone old (a pass stuck behind a slow device, the worker
// busy with a search) and is shown dimmed until it is read again; the cell's tooltip says why the last
// read failed and when the value was last read.

#include "model/source.h"

#include <QString>
#include <chrono>
#include <unordered_set>

namespace mistvale {

class MonitorTree;

using SteadyTime = std::chrono::steady_clock::time_point;

// The Value cell's tooltip: the reason of a failure, "Read at 14:03:22" (the last successful read, in
// the locale's time form), or "Not refreshed since 14:03:22"; empty before the first read.
QString ValueToolTip(const SourceOutcome& outcome, bool stale);

// Which of the model's sources show an old value, found at each rebuild and when the next fresh value
// turns old (the owner's timer), so that painting only looks addresses up.
class StaleValues {
public:
    // Walks the model's sources under their shared locks. Returns 1 when the set changed.
    int Update(MonitorTree& tree, unsigned refreshTime, SteadyTime now);
    int Contains(const void* source) const { return stale_.count(source) ? 1 : 0; }
    // When the next value that is fresh now goes old; time_point::max() when none will.
    SteadyTime NextChange() const { return next_; }

private:
    std::unordered_set<const void*> stale_;
    SteadyTime next_ = SteadyTime::max();
};

} // namespace mistvale
