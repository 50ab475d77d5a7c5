#pragma once

#include "model/monitor_tree.h"

#include <cstddef>
#include <vector>

namespace mistvale {

// Hands every read and write outcome to several handlers (the recorder, the MQTT publisher, the
// service's log), in the order they were added. Fill it before the tree starts; it is not changed
// while lines call it.
class OutcomeFanOut {
public:
    // pass, when given, takes a group pass's outcomes at once instead of handler for each source.
    void Add(OutcomeHandler handler, void* context, PassOutcomeHandler pass = nullptr) {
        handlers_.push_back({handler, pass, context});
    }
    static void OnOutcome(void* context, Group& group, Source& source) {
        for (const Entry& entry : static_cast<OutcomeFanOut*>(context)->handlers_)
            entry.handler(entry.context, group, source);
    }
    static void OnPassOutcome(void* context, Group& group, Source* const* sources, std::size_t count) {
        for (const Entry& entry : static_cast<OutcomeFanOut*>(context)->handlers_) {
            if (entry.pass != nullptr) {
                entry.pass(entry.context, group, sources, count);
                continue;
            }
            for (std::size_t i = 0; i < count; ++i)
                entry.handler(entry.context, group, *sources[i]);
        }
    }

private:
    struct Entry {
        OutcomeHandler handler;
        PassOutcomeHandler pass;
        void* context;
    };
    std::vector<Entry> handlers_;
};

} // namespace mistvale
