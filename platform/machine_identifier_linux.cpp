#include "platform/machine_identifier.h"

#include <openssl/sha.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace mistvale {

namespace {

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return std::string();
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

} // namespace

WideString MachineIdentifierFrom(const std::string& machineId, const char* product) {
    // A separator that appears in neither part keeps ("ab", "c") apart from ("a", "bc").
    const std::string input = std::string(product ? product : "") + '\n' + Trimmed(machineId);
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(input.data()), input.size(), digest);
    char text[20];
    std::snprintf(text, sizeof text, "%02X%02X-%02X%02X-%02X%02X-%02X%02X", digest[0], digest[1], digest[2],
                  digest[3], digest[4], digest[5], digest[6], digest[7]);
    return WideString::FromUtf8(text);
}

WideString MachineIdentifier(const char* product) {
    for (const char* path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
        std::ifstream file(path);
        if (!file)
            continue;
        std::ostringstream content;
        content << file.rdbuf();
        const std::string id = Trimmed(content.str());
        if (!id.empty())
            return MachineIdentifierFrom(id, product);
    }
    return MachineIdentifierFrom(std::string(), product);
}

} // namespace mistvale
