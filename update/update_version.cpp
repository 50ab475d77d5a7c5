#include "update/update_version.h"

#include <cstdio>
#include <string>

namespace mistvale {

int ParseUpdateVersion(const WideString& text, UpdateVersion& out) {
    // The C library's own reading, so that what it accepts (blanks, a sign, what follows the minor
    // number) is exactly what "%u.%u" accepts.
    const std::string utf8 = text.ToUtf8();
    unsigned major = 0, minor = 0;
    if (std::sscanf(utf8.c_str(), "%u.%u", &major, &minor) != 2)
        return 0;
    out.major = major;
    out.minor = minor;
    return 1;
}

bool IsNewerVersion(const UpdateVersion& offered, const UpdateVersion& running) {
    return offered.major > running.major || (offered.major == running.major && offered.minor > running.minor);
}

WideString UpdateVersionText(const UpdateVersion& version) {
    char text[32];
    std::snprintf(text, sizeof text, "%u.%02u", version.major, version.minor);
    return WideString::FromUtf8(text);
}

WideString UpdateRequestAddress(const WideString& service, const WideString& versionText,
                                const WideString& machineId) {
    WideString address(service);
    bool hasQuery = false;
    for (int i = 0; i < service.Length(); ++i)
        hasQuery = hasQuery || service.Text()[i] == u'?';
    address.Append(hasQuery ? u"&v=" : u"?v=");
    address.Append(versionText);
    address.Append(u"&id=");
    address.Append(machineId);
    return address;
}

} // namespace mistvale
