#include "model/config_file.h"

#include <cstdlib>
#include <pwd.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace mistvale {

namespace {

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/')
        return home;
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    struct passwd entry;
    struct passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr)
        return found->pw_dir;
    return ".";
}

} // namespace

std::string DefaultConfigPath() {
    std::string folder;
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    // Relative values are to be ignored, as the base directory rules say.
    if (dataHome != nullptr && dataHome[0] == '/')
        folder = dataHome;
    else
        folder = HomeFolder() + "/.local/share";
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder + "Mistvale.xml";
}

} // namespace mistvale
