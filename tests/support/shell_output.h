#pragma once

#include <cstdio>
#include <string>

namespace mistvale {

// What a shell command prints on standard output; "FAILED: " before it when the command did not
// end with status 0 (and "FAILED" alone when it could not be run at all).
inline std::string Shell(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return "FAILED";
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr)
        output += buffer;
    return pclose(pipe) == 0 ? output : "FAILED: " + output;
}

} // namespace mistvale
