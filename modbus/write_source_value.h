#pragma once

#include "platform/wide_string.h"

namespace mistvale {

class Group;
class Source;

// Writes a typed text into the source's register(s) according to its format, over a link opened for
// this write. On success the source's value text becomes the typed text exactly as typed, on failure
// "Can't set value.". Returns 1 on success. A float or text write that fails part-way leaves the
// registers already written changed on the device.
int WriteSourceValue(Group& group, Source& source, const WideString& typed);
// The same with the source's own group (fails when it has none).
int WriteSourceValue(Source& source, const WideString& typed);

} // namespace mistvale
