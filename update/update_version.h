#pragma once
// Version numbers as the update service and the program exchange them: two decimal numbers, major and
// minor, joined by a point ("1.09"), and the request address that carries the running one.
#include "platform/wide_string.h"

namespace mistvale {

struct UpdateVersion {
    unsigned major = 0;
    unsigned minor = 0;
};

// Reads text the way "%u.%u" does; 1 when both numbers were read.
int ParseUpdateVersion(const WideString& text, UpdateVersion& out);
// Newer: a greater major number, or the same major number and a greater minor one ("1.10" > "1.09",
// "1.1" < "1.09").
bool IsNewerVersion(const UpdateVersion& offered, const UpdateVersion& running);
// "%u.%02u": 1.0 becomes "1.00".
WideString UpdateVersionText(const UpdateVersion& version);

// service + ("&" when it holds a "?", else "?") + "v=" + versionText + "&id=" + machineId.
WideString UpdateRequestAddress(const WideString& service, const WideString& versionText,
                                const WideString& machineId);

} // namespace mistvale
