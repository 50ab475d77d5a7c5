#include "model/source.h"

#include "platform/crash_log.h"

#include "platform/string_table.h"

#include <utility>

namespace mistvale {

Source::Source() : Record(RecordKind::Source) {
    SetName(WideString(Text(kStrSource)));
}

Source::~Source() = default;

Group* Source::GetGroup() const {
    std::lock_guard<std::mutex> guard(fieldLock_);
    return group_;
}

void Source::SetGroup(Group* group) {
    std::lock_guard<std::mutex> guard(fieldLock_);
    group_ = group;
}

WideString Source::Value() const {
    std::lock_guard<std::mutex> guard(fieldLock_);
    return value_;
}

int Source::AppendValue(WideString& text) const {
    std::lock_guard<std::mutex> guard(fieldLock_);
    return text.Append(value_);
}

namespace {

void NoteTime(SourceOutcome& outcome, bool failed, const OutcomeStamp& at) {
    outcome.note.clear();
    outcome.known = true;
    outcome.failed = failed;
    outcome.atSteady = at.atSteady;
    outcome.atMs = at.atMs;
    if (!failed)
        outcome.okAtMs = outcome.atMs;
}

void NoteTime(SourceOutcome& outcome, bool failed) {
    NoteTime(outcome, failed, OutcomeStamp::Now());
}

} // namespace

void Source::SetNote(const std::string& note) {
    std::lock_guard<std::mutex> guard(fieldLock_);
    outcome_.note = note;
}

int Source::WithValue(int (*visit)(const char16_t* text, int length, void* context), void* context) const {
    std::lock_guard<std::mutex> guard(fieldLock_);
    return visit(value_.Text(), value_.Length(), context);
}

OutcomeStamp OutcomeStamp::Now() {
    OutcomeStamp stamp;
    stamp.atSteady = std::chrono::steady_clock::now();
    stamp.atMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::system_clock::now().time_since_epoch())
                     .count();
    return stamp;
}

void Source::TakeValue(WideString& value, const OutcomeStamp& at) {
    std::lock_guard<std::mutex> guard(fieldLock_);
    std::swap(value_, value);
    outcome_.reason.clear();
    NoteTime(outcome_, false, at);
}

void Source::SetValue(const WideString& value) {
    WideString copy(value); // the complete new text is made before it is swapped in
    std::string noReason;
    std::lock_guard<std::mutex> guard(fieldLock_);
    std::swap(value_, copy);
    std::swap(outcome_.reason, noReason);
    NoteTime(outcome_, false);
}

void Source::SetFailedValue(const WideString& text, const std::string& reason) {
    // A crash report shows the last failures before it.
    const std::string line = Parameter().ToUtf8() + ": " + reason;
    NoteForCrashReport(line.c_str());
    WideString copy(text);
    std::string why(reason);
    std::lock_guard<std::mutex> guard(fieldLock_);
    std::swap(value_, copy);
    std::swap(outcome_.reason, why);
    NoteTime(outcome_, true);
}

bool Source::OutcomeSteadyTime(std::chrono::steady_clock::time_point* at) const {
    std::lock_guard<std::mutex> guard(fieldLock_);
    *at = outcome_.atSteady;
    return outcome_.known;
}

int Source::HasFailed() const {
    std::lock_guard<std::mutex> guard(fieldLock_);
    return outcome_.failed ? 1 : 0;
}

void Source::CopyValueAndOutcome(std::string* utf8Value, bool* failed, std::string* reason,
                                 std::int64_t* atMs) const {
    std::lock_guard<std::mutex> guard(fieldLock_);
    *utf8Value = value_.ToUtf8();
    *failed = outcome_.failed;
    if (outcome_.failed)
        *reason = outcome_.reason;
    *atMs = outcome_.atMs;
}

SourceOutcome Source::Outcome() const {
    std::lock_guard<std::mutex> guard(fieldLock_);
    return outcome_;
}

int Source::CreateHistory() {
    std::lock_guard<std::mutex> guard(historyLock_);
    const int created = history_.Create();
    historyExists_.store(history_.Created() != 0, std::memory_order_release);
    return created;
}

int Source::HistoryCreated() const {
    std::lock_guard<std::mutex> guard(historyLock_);
    return history_.Created();
}

int Source::AppendSample(std::int16_t sample) {
    if (!historyExists_.load(std::memory_order_acquire))
        return 0;
    std::lock_guard<std::mutex> guard(historyLock_);
    if (!history_.Created())
        return 0;
    history_.Append(sample);
    return 1;
}

std::uint32_t Source::CopySamples(std::vector<std::int16_t>& out) const {
    std::lock_guard<std::mutex> guard(historyLock_);
    return history_.CopyTo(out);
}

} // namespace mistvale
