#pragma once

#include <string>

// File operations the configuration file needs beyond XML: an atomic replace and a kept copy.

// 1 when something exists at path (a file, a folder, a dangling link counts too).
int PathExists(const std::string& path);

// Writes bytes to a new temporary file in the folder of path, flushes it to the disk and renames it
// over path, so that path holds either its old content or the complete new one. A link at path is
// followed: its target is replaced. The folder is created when missing. 1 on success; on failure the
// old file is unchanged and no temporary file is left behind.
int ReplaceFileAtomically(const std::string& path, const std::string& bytes);

// Keeps the file at path also under the first free name of path + suffix, path + suffix + ".1",
// path + suffix + ".2", ... (an existing file is never overwritten). The file at path stays. 1 when
// the copy exists; kept_as (optional) receives its name.
int KeepCopyBeside(const std::string& path, const std::string& suffix, std::string* kept_as);
