#pragma once

#include "model/monitor_tree.h"

#include <utility>
#include <vector>

namespace mistvale {

// Hands every read and write outcome to several handlers (the recorder, the MQTT publisher, the
// service's log), in the order they were added. Fill it before the tree starts; it is not changed
// while lines call it.
class OutcomeFanOut {
public:
    void Add(OutcomeHandler handler, void* context) { handlers_.emplace_back(handler, context); }
    static void OnOutcome(void* context, Group& group, Source& source) {
        for (const auto& [handler, handlerContext] : static_cast<OutcomeFanOut*>(context)->handlers_)
            handler(handlerContext, group, source);
    }

private:
    std::vector<std::pair<OutcomeHandler, void*>> handlers_;
};

} // namespace mistvale
