#pragma once

#include <string>

namespace mistvale {

class LockedList;

// Outcome of reading the configuration file.
enum ConfigLoadResult {
    kConfigUnreadable = -1, // the file exists but could not be parsed as a Mistvale tree
    kConfigMissing = 0,     // there is no file
    kConfigLoaded = 1,      // read (groups appended)
};

// The default location: $XDG_DATA_HOME/Mistvale.xml, or ~/.local/share/Mistvale.xml.
std::string DefaultConfigPath();

// Reads "Mistvale\Groups" of the file and appends the groups with their sources to groups.
// Names match without regard to case; "Name" and "Parameter" may be attributes or child elements.
int LoadConfigFile(const std::string& path, LockedList& groups);

// Writes the groups (walked under their shared locks) as the "Mistvale" document. The old file is
// replaced only by a complete, flushed new one (temporary file in the same folder, renamed over it),
// so a failed save leaves it as it was. 1 on success.
int SaveConfigFile(const std::string& path, LockedList& groups);

// Keeps an existing file beside itself as "<path>.bad" (or "<path>.bad.1", ".bad.2", ... when an
// older one is there; nothing is overwritten) so that an unreadable tree can be recovered. The file
// itself stays in place. 1 when the copy exists; kept_as (optional) receives its path.
int KeepUnreadableConfig(const std::string& path, std::string* keptAs = nullptr);

} // namespace mistvale
