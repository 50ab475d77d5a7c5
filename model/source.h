#pragma once

#include "model/record.h"
#include "model/sample_history.h"

#include <cstdint>
#include <mutex>
#include <vector>

class Group;

// One monitored value read through its group's connection. The parameter is the register path with
// its format suffixes; the value text is what the Value column shows.
class Source : public Record {
public:
    Source(); // name "Source" (string 26), empty parameter, empty value, no history
    ~Source() override;

    // The group whose list holds the source (not owning); nullptr until added.
    Group* GetGroup() const;
    void SetGroup(Group* group);

    // A copy of the value text made under the source's lock, safe while the worker replaces it.
    WideString Value() const;
    // Appends the value text to text under the source's lock (no copy of its own); 1 on success.
    int AppendValue(WideString& text) const;
    // Swaps in a complete new value text (worker: refresh, value writing).
    void SetValue(const WideString& value);

    // History of samples for graph cells, guarded by the history lock.
    // Created by the first drawing of a graph cell; 1 when it exists afterwards.
    int CreateHistory();
    int HistoryCreated() const;
    // Appends one sample once the history exists; 1 when appended, 0 when there is no history.
    int AppendSample(std::int16_t sample);
    // Copies the samples, oldest first; returns their number (0 without a history).
    std::uint32_t CopySamples(std::vector<std::int16_t>& out) const;

private:
    Group* group_ = nullptr;
    WideString value_;
    mutable std::mutex history_lock_;
    SampleHistory history_;
};
