#pragma once

#include "model/list_item.h"
#include "platform/wide_string.h"

#include <atomic>
#include <cstdint>
#include <mutex>

namespace mistvale {

// Tells the two model records apart (a signed 32-bit field of both records).
enum class RecordKind : std::int32_t {
    Group = 0,
    Source = 1,
};

// Common part of Group and Source: the kind, the name and the path text ("Parameter").
//
// Name and parameter are edited on the user-interface thread while the worker may read them, so
// both live under the record's own field lock: the getters return copies made under the lock and
// the setters swap in complete texts. Neither side ever waits for a slow device to do so.
//
// Tree items carry a record as item data; pass it as Record* (static_cast<Record*>(group)) so that
// it can be turned back with AsGroup / AsSource below.
class Record : public ListItem {
public:
    RecordKind Kind() const { return kind_; }

    WideString Name() const;
    WideString Parameter() const;
    // Append the name / parameter to text under the lock, without a copy of their own (row building
    // reuses one buffer). 1 on success, 0 when text could not grow.
    int AppendName(WideString& text) const;
    int AppendParameter(WideString& text) const;
    // Calls visit with the parameter's units (zero-terminated, length units) while holding the lock
    // and returns its result. visit must not call back into the record.
    int WithParameter(int (*visit)(const char16_t* text, int length, void* context), void* context) const;
    void SetName(const WideString& name);
    void SetParameter(const WideString& parameter);
    // Changes whenever the parameter is set, to a number no record had before (0: never set), so that
    // a reader can tell a path it already parsed without taking the lock.
    std::uint64_t ParameterVersion() const { return parameterVersion_.load(std::memory_order_acquire); }
    // Stores both edited fields at once (what a dialog's OK does).
    void SetNameAndParameter(const WideString& name, const WideString& parameter);

protected:
    explicit Record(RecordKind kind) : kind_(kind) {}
    // Lock for the text fields of the record (Source keeps its value text under it as well).
    mutable std::mutex fieldLock_;

private:
    const RecordKind kind_;
    WideString name_;
    WideString parameter_;
    std::atomic<std::uint64_t> parameterVersion_{0};
};

class Group;
class Source;
// The record as a Group / Source, or nullptr when it is none or of the other kind.
Group* AsGroup(Record* record);
Source* AsSource(Record* record);

} // namespace mistvale
