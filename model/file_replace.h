#pragma once

#include <ctime>
#include <string>

namespace mistvale {

// File operations the configuration file needs beyond XML: an atomic replace and a kept copy.

// 1 when something exists at path (a file, a folder, a dangling link counts too).
int PathExists(const std::string& path);

// Writes bytes to a new temporary file in the folder of path, flushes it to the disk and renames it
// over path, so that path holds either its old content or the complete new one. A link at path is
// followed: its target is replaced. The folder is created when missing. 1 on success; on failure the
// old file is unchanged and no temporary file is left behind. A link at path is never replaced itself:
// its final target is (created when the link dangles). A file the user cannot write, or whose owner
// made it read-only, is not replaced (errno EACCES). errno tells the cause of a failure.
int ReplaceFileAtomically(const std::string& path, const std::string& bytes);

// The path that a chain of symbolic links at path ends in, whether or not it exists; path itself when
// it is no link.
std::string ResolveLinkTarget(const std::string& path);

// Removes the temporary files that a save of path killed part-way left beside it, or beside its link
// target ("<name>.tmp." and eight letters or digits), when last changed before older_than. Returns how
// many were removed.
int RemoveLeftoverTemporaries(const std::string& path, std::time_t olderThan);

// Keeps the file at path also under the first free name of path + suffix, path + suffix + ".1",
// path + suffix + ".2", ... (an existing file is never overwritten). The file at path stays. 1 when
// the copy exists; kept_as (optional) receives its name. Through a symbolic link the copy holds the
// target's content.
int KeepCopyBeside(const std::string& path, const std::string& suffix, std::string* keptAs);

} // namespace mistvale
