#pragma once
// The three file steps of an update, each over all file entries in document order: download (and
// verify), set aside, install. With F the program's folder, N an entry's name (or zip name where said),
// B its base and E its extension (from the last "."):
//   download target  F/B_new E  (N the zip name when the entry has one)
//   saved old file   F/B_old E  of the name
//   run file         the temporary folder / zip name, else the last path part of the address (after
//                    its first "=" when it holds one)
#include <atomic>
#include <string>
#include <vector>

#include "update/http_fetch.h"
#include "update/update_manifest.h"

namespace mistvale {

std::string UpdateDownloadTarget(const std::string& folder, const UpdateFileEntry& entry);
std::string UpdateSavedOldFile(const std::string& folder, const UpdateFileEntry& entry);
// The run file's name (no folder); empty when the address gives no plain file name.
std::string UpdateRunFileName(const UpdateFileEntry& entry);

struct UpdateStepContext {
    std::string folder;     // the program's folder
    std::string tempFolder; // where a run file goes
    std::string versionText;
    std::string publicKey; // base64 of the raw Ed25519 key
    FetchOptions fetch;
    std::string runFile; // set by the download step for an entry without a name
    std::string failure; // why the last step failed, for the log
};

// Each returns 1 when the step succeeded for every entry; a step without entries fails.
int DownloadUpdateFiles(const std::vector<UpdateFileEntry>& files, UpdateStepContext& context);
int SetAsideUpdateFiles(const std::vector<UpdateFileEntry>& files, UpdateStepContext& context);
int InstallUpdateFiles(const std::vector<UpdateFileEntry>& files, UpdateStepContext& context);

} // namespace mistvale
