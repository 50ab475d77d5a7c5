#include "model/record.h"

#include "model/group.h"
#include "model/source.h"

#include <utility>

namespace mistvale {

WideString Record::Name() const {
    std::lock_guard<std::mutex> guard(fieldLock_);
    return name_;
}

WideString Record::Parameter() const {
    std::lock_guard<std::mutex> guard(fieldLock_);
    return parameter_;
}

int Record::AppendName(WideString& text) const {
    std::lock_guard<std::mutex> guard(fieldLock_);
    return text.Append(name_);
}

int Record::AppendParameter(WideString& text) const {
    std::lock_guard<std::mutex> guard(fieldLock_);
    return text.Append(parameter_);
}

int Record::WithParameter(int (*visit)(const char16_t* text, int length, void* context),
                          void* context) const {
    std::lock_guard<std::mutex> guard(fieldLock_);
    return visit(parameter_.Text(), parameter_.Length(), context);
}

void Record::SetName(const WideString& name) {
    WideString copy(name); // built outside the lock; only the swap happens under it
    std::lock_guard<std::mutex> guard(fieldLock_);
    std::swap(name_, copy);
}

namespace {

std::uint64_t NextParameterVersion() {
    static std::atomic<std::uint64_t> last{0};
    return ++last;
}

} // namespace

void Record::SetParameter(const WideString& parameter) {
    WideString copy(parameter);
    std::lock_guard<std::mutex> guard(fieldLock_);
    std::swap(parameter_, copy);
    parameterVersion_.store(NextParameterVersion(), std::memory_order_release);
}

void Record::SetNameAndParameter(const WideString& name, const WideString& parameter) {
    WideString nameCopy(name);
    WideString parameterCopy(parameter);
    std::lock_guard<std::mutex> guard(fieldLock_);
    std::swap(name_, nameCopy);
    std::swap(parameter_, parameterCopy);
    parameterVersion_.store(NextParameterVersion(), std::memory_order_release);
}

Group* AsGroup(Record* record) {
    if (record == nullptr || record->Kind() != RecordKind::Group)
        return nullptr;
    return static_cast<Group*>(record);
}

Source* AsSource(Record* record) {
    if (record == nullptr || record->Kind() != RecordKind::Source)
        return nullptr;
    return static_cast<Source*>(record);
}

} // namespace mistvale
