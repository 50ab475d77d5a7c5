#pragma once
// The file steps of an update over all file entries in document order. With F the program's folder,
// N an entry's name, B its base and E its extension (from the last "."):
//   saved old file   F/B_old E  of the name
//   run file         the temporary folder / zip name, else the last path part of the address (after
//                    its first "=" when it holds one)
#include <atomic>
#include <string>
#include <vector>

#include "update/http_fetch.h"
#include "update/update_manifest.h"

namespace mistvale {

std::string UpdateSavedOldFile(const std::string& folder, const UpdateFileEntry& entry);
// The run file's name (no folder); empty when the address gives no plain file name.
std::string UpdateRunFileName(const UpdateFileEntry& entry);

struct UpdateStepContext {
    std::string folder;     // the program's folder
    std::string tempFolder; // where a run file goes
    std::string versionText;
    std::string publicKey;     // base64 of the raw Ed25519 key
    std::string nextPublicKey; // the maker's next key, also accepted (empty: none)
    FetchOptions fetch;
    std::string runFile;                // set for an entry without a name
    std::string failure;                // why the install failed, for the log and the user
    std::vector<std::string> installed; // top-level names the install put into the folder
};

// Installs an update all or nothing. Every file is downloaded and verified into a new staging folder
// inside the program's folder (same file system: the last steps are renames), every archive unpacked
// and checked there, and every name the manifest promises must be present; only then are the current
// files set aside and the new ones moved into place. Any failure moves back what was moved, so the
// folder is as it was. A file to run goes into a new private folder (mode 0700) under tempFolder.
// After success each replaced file named by an entry stays beside as F/B_old E. Returns 1 on success;
// else 0 with context.failure. context.installed lists the names now in the folder's top level.
int InstallUpdate(const std::vector<UpdateFileEntry>& files, UpdateStepContext& context);

} // namespace mistvale
