#include "modbus/read_source_value.h"

#include "modbus/read_group_values.h"
#include "model/group.h"
#include "model/source.h"

#include <atomic>

namespace mistvale {

int ReadSourceValue(Group& group, Source& source) {
    static const std::atomic<bool> kNeverStop{false};
    Source* one = &source;
    return ReadGroupValues(group, &one, 1, kNeverStop);
}

void ReadSourceValue(Source& source) {
    Group* group = source.GetGroup();
    if (group)
        ReadSourceValue(*group, source);
}

} // namespace mistvale
