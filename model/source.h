#pragma once

#include "model/record.h"
#include "model/sample_history.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace mistvale {

class Group;

// What the last read or write of a source came to, beside its value text: for the Value cell's
// tooltip, the colour of values that have gone old, and the record of values.
struct SourceOutcome {
    bool known = false;      // a read or write has happened
    bool failed = false;     // and it failed
    std::string reason;      // why, in a person's words (UTF-8); empty after a success
    std::int64_t atMs = 0;   // when, in milliseconds since 1970 (UTC)
    std::int64_t okAtMs = 0; // when the last one succeeded; 0: never
    std::chrono::steady_clock::time_point atSteady{}; // when, on the clock that never jumps
    std::string
        note; // why the value is not being read just now (a search holds its line); cleared by the next read
};

// When a read or write happened, on both clocks; taken once for the sources of one request.
struct OutcomeStamp {
    std::int64_t atMs = 0;
    std::chrono::steady_clock::time_point atSteady{};
    static OutcomeStamp Now();
};

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
    // Calls visit with the value text in place, under the source's lock (no copy); returns its result.
    int WithValue(int (*visit)(const char16_t* text, int length, void* context), void* context) const;
    // Swaps in a complete new value text of a successful read or write (worker: refresh, value
    // writing) and notes the time.
    void SetValue(const WideString& value);
    // The same for a value read at the given time; value is taken over (left empty).
    void TakeValue(WideString& value, const OutcomeStamp& at);
    // Swaps in the failure text ("Can't get value.", "Can't set value.") of a failed read or write,
    // together with the reason, under the same lock.
    void SetFailedValue(const WideString& text, const std::string& reason);
    // Says why the value is not read for a while (kept until the next read or write ends).
    void SetNote(const std::string& note);
    // The value as UTF-8 and what a publisher needs of the outcome, under one lock: a pass hands
    // thousands of them over. The reason is set only when the outcome failed.
    void CopyValueAndOutcome(std::string* utf8Value, bool* failed, std::string* reason,
                             std::int64_t* atMs) const;
    // A copy of the last outcome, made under the source's lock.
    SourceOutcome Outcome() const;
    // When the last read or write happened (the never-jumping clock), without copying the reason;
    // false when none has happened yet.
    bool OutcomeSteadyTime(std::chrono::steady_clock::time_point* at) const;
    // 1 when the last read or write failed (its value text is then a failure text).
    int HasFailed() const;

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
    SourceOutcome outcome_;
    mutable std::mutex historyLock_;
    SampleHistory history_;
    std::atomic<bool> historyExists_{false}; // a sample needs the lock only once a graph asked for it
};

} // namespace mistvale
