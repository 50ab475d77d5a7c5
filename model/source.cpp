#include "model/source.h"

#include "platform/string_table.h"

#include <utility>

Source::Source() : Record(RecordKind::Source) {
    SetName(WideString(Text(kStrSource)));
}

Source::~Source() = default;

Group* Source::GetGroup() const {
    std::lock_guard<std::mutex> guard(field_lock_);
    return group_;
}

void Source::SetGroup(Group* group) {
    std::lock_guard<std::mutex> guard(field_lock_);
    group_ = group;
}

WideString Source::Value() const {
    std::lock_guard<std::mutex> guard(field_lock_);
    return value_;
}

int Source::AppendValue(WideString& text) const {
    std::lock_guard<std::mutex> guard(field_lock_);
    return text.Append(value_);
}

void Source::SetValue(const WideString& value) {
    WideString copy(value); // the complete new text is made before it is swapped in
    std::lock_guard<std::mutex> guard(field_lock_);
    std::swap(value_, copy);
}

int Source::CreateHistory() {
    std::lock_guard<std::mutex> guard(history_lock_);
    return history_.Create();
}

int Source::HistoryCreated() const {
    std::lock_guard<std::mutex> guard(history_lock_);
    return history_.Created();
}

int Source::AppendSample(std::int16_t sample) {
    std::lock_guard<std::mutex> guard(history_lock_);
    if (!history_.Created()) {
        return 0;
    }
    history_.Append(sample);
    return 1;
}

std::uint32_t Source::CopySamples(std::vector<std::int16_t>& out) const {
    std::lock_guard<std::mutex> guard(history_lock_);
    return history_.CopyTo(out);
}
