#include "update/update_steps.h"

#include "update/update_signature.h"
#include "update/zip_extract.h"

#include <sys/stat.h>

#include <cstdio>

namespace mistvale {

namespace {

void SplitName(const std::string& name, std::string& base, std::string& extension) {
    size_t dot = std::string::npos;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '?')
            break;
        if (name[i] == '/' || name[i] == '\\')
            dot = std::string::npos;
        else if (name[i] == '.')
            dot = i;
    }
    base = dot == std::string::npos ? name : name.substr(0, dot);
    extension = dot == std::string::npos ? std::string() : name.substr(dot);
}

std::string InFolder(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/')
        return folder + name;
    return folder + "/" + name;
}

std::string WithSuffix(const std::string& folder, const std::string& name, const char* suffix) {
    std::string base, extension;
    SplitName(name, base, extension);
    return InFolder(folder, base + suffix + extension);
}

std::string LastPathPart(const std::string& text) {
    const size_t slash = text.find_last_of("/\\");
    return slash == std::string::npos ? text : text.substr(slash + 1);
}

// The name a signature covers: the entry's name, else its archive's, else the run file's.
std::string SignedName(const UpdateFileEntry& entry) {
    if (!entry.name.IsEmpty())
        return entry.name.ToUtf8();
    if (!entry.zip.IsEmpty())
        return entry.zip.ToUtf8();
    return UpdateRunFileName(entry);
}

} // namespace

std::string UpdateDownloadTarget(const std::string& folder, const UpdateFileEntry& entry) {
    const WideString& name = entry.zip.IsEmpty() ? entry.name : entry.zip;
    return WithSuffix(folder, name.ToUtf8(), "_new");
}

std::string UpdateSavedOldFile(const std::string& folder, const UpdateFileEntry& entry) {
    return WithSuffix(folder, entry.name.ToUtf8(), "_old");
}

std::string UpdateRunFileName(const UpdateFileEntry& entry) {
    std::string name;
    if (!entry.zip.IsEmpty()) {
        name = entry.zip.ToUtf8();
    } else {
        const std::string url = entry.url.ToUtf8();
        const size_t equals = url.find('=');
        name = LastPathPart(equals == std::string::npos ? url : url.substr(equals + 1));
    }
    // The address is the service's to choose, but it must not name a path out of the folder.
    return IsPlainFileName(WideString::FromUtf8(name.c_str())) ? name : std::string();
}

int DownloadUpdateFiles(const std::vector<UpdateFileEntry>& files, UpdateStepContext& context) {
    if (files.empty()) {
        context.failure = "no file entries";
        return 0;
    }
    for (const UpdateFileEntry& entry : files) {
        std::string target;
        if (entry.name.IsEmpty()) {
            const std::string name = UpdateRunFileName(entry);
            if (name.empty()) {
                context.failure = "the run file's address names no plain file";
                return 0;
            }
            target = InFolder(context.tempFolder, name);
        } else {
            target = UpdateDownloadTarget(context.folder, entry);
        }
        FetchOptions options = context.fetch;
        options.maxBytes = entry.size;
        const FetchResult fetched = FetchToFile(entry.url.ToUtf8(), target, options);
        if (fetched != FetchResult::Ok) {
            context.failure = "download failed: " + entry.url.ToUtf8();
            return 0;
        }
        if (!VerifyUpdateFile(target, context.versionText, SignedName(entry), entry.signature.ToUtf8(),
                              context.publicKey)) {
            std::remove(target.c_str());
            context.failure = "bad or missing signature: " + entry.url.ToUtf8();
            return 0;
        }
        if (entry.name.IsEmpty())
            context.runFile = target;
    }
    return 1;
}

int SetAsideUpdateFiles(const std::vector<UpdateFileEntry>& files, UpdateStepContext& context) {
    if (files.empty())
        return 0;
    for (const UpdateFileEntry& entry : files) {
        if (entry.name.IsEmpty())
            continue;
        const std::string old = UpdateSavedOldFile(context.folder, entry);
        std::remove(old.c_str());
        if (std::rename(InFolder(context.folder, entry.name.ToUtf8()).c_str(), old.c_str()) != 0) {
            context.failure = "could not set aside " + entry.name.ToUtf8();
            return 0;
        }
    }
    return 1;
}

int InstallUpdateFiles(const std::vector<UpdateFileEntry>& files, UpdateStepContext& context) {
    if (files.empty())
        return 0;
    for (const UpdateFileEntry& entry : files) {
        if (entry.name.IsEmpty())
            continue;
        const std::string download = UpdateDownloadTarget(context.folder, entry);
        if (!entry.zip.IsEmpty()) {
            const ZipResult unpacked = ExtractZip(download, context.folder);
            if (unpacked != ZipResult::Ok) {
                context.failure =
                    std::string("could not unpack ") + entry.zip.ToUtf8() + ": " + ZipResultText(unpacked);
                return 0;
            }
            std::remove(download.c_str());
            continue;
        }
        // A download is an ordinary file; the new file takes the permissions of the one it replaces, so
        // a program stays executable (set-user and set-group bits are not carried over).
        struct stat old;
        if (stat(UpdateSavedOldFile(context.folder, entry).c_str(), &old) == 0 &&
            chmod(download.c_str(), old.st_mode & 0777) != 0) {
            context.failure = "could not set the permissions of " + entry.name.ToUtf8();
            return 0;
        }
        if (std::rename(download.c_str(), InFolder(context.folder, entry.name.ToUtf8()).c_str()) != 0) {
            context.failure = "could not install " + entry.name.ToUtf8();
            return 0;
        }
    }
    return 1;
}

} // namespace mistvale
