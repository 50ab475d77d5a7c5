#pragma once

namespace mistvale {

// Notifications the worker sends through the model's notify handler (the desktop layer turns them
// into posted events: QEvent::User + 1 and + 2).
constexpr int WM_MODEL_CHANGED = 0x8001;   // values or the model changed; rebuild the tree-list
constexpr int WM_SEARCH_FINISHED = 0x8002; // the device search job has ended

} // namespace mistvale
