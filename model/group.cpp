#include "model/group.h"

#include "platform/string_table.h"

namespace mistvale {

Group::Group() : Record(RecordKind::Group) {
    SetNameAndParameter(WideString(Text(kStrGroup)), u"Clock");
}

Group::~Group() {
    sources_.DeleteAll();
}

} // namespace mistvale
