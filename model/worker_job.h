#pragma once

#include "model/list_item.h"
#include "platform/wide_string.h"

#include <cstdint>

namespace mistvale {

class Group;
class Source;

// Job kinds, in the order of the worker's table (signed 32-bit).
enum class JobKind : std::int32_t {
    Refresh = 0,         // read every source of every group
    DeleteGroup = 1,     // uses group
    DeleteSource = 2,    // uses source
    SearchDevices = 3,   // device search over the serial ports
    AddAllRegisters = 4, // uses group
    SetValue = 5,        // uses source and text
};

// One unit of work for the refresh worker. The records are not owned; the job checks that they are
// still in the model before it touches them.
class WorkerJob : public ListItem {
public:
    WorkerJob(JobKind kind, Group* group = nullptr, Source* source = nullptr);
    WorkerJob(JobKind kind, Source* source, const WideString& text);

    JobKind Kind() const { return kind_; }
    Group* GetGroup() const { return group_; }
    Source* GetSource() const { return source_; }
    const WideString& Text() const { return text_; }

private:
    JobKind kind_;
    Group* group_;
    Source* source_;
    WideString text_;
};

} // namespace mistvale
