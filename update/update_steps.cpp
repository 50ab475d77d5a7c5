#include "update/update_steps.h"

#include "update/update_signature.h"
#include "update/zip_extract.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <vector>

namespace mistvale {

namespace fs = std::filesystem;

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

namespace {

// A new folder of this process's own (mode 0700) under parent; empty when it cannot be made.
std::string MakePrivateFolder(const std::string& parent, const char* prefix) {
    std::string pattern = InFolder(parent, std::string(prefix) + "XXXXXX");
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr)
        return std::string();
    return std::string(buffer.data());
}

// True when no part of folder/relative up to its last part is a link or other non-folder (the last
// part may be missing, a file, or a folder).
bool NoLinkOnTheWay(const fs::path& folder, const fs::path& relative) {
    fs::path at = folder;
    for (auto part = relative.begin(); part != relative.end(); ++part) {
        at /= *part;
        struct stat info;
        if (lstat(at.c_str(), &info) != 0)
            return true; // what is missing is made as a folder
        if (S_ISLNK(info.st_mode))
            return false;
        if (std::next(part) != relative.end() && !S_ISDIR(info.st_mode))
            return false;
    }
    return true;
}

// One file moved into the program's folder, and what stood there before.
struct Moved {
    fs::path relative;
    bool replaced = false;
};

// The files under root, relative to it, in a stable order; folders are made as needed when moving.
std::vector<fs::path> FilesUnder(const fs::path& root) {
    std::vector<fs::path> files;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(root, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error))
        if (it->is_regular_file(error))
            files.push_back(fs::relative(it->path(), root, error));
    std::sort(files.begin(), files.end());
    return files;
}

// Moves the files back: the new ones into staging, the old ones into place, folders made removed.
void MoveBack(const fs::path& folder, const fs::path& fresh, const fs::path& previous,
              const std::vector<Moved>& moved, const std::vector<fs::path>& madeFolders) {
    for (auto it = moved.rbegin(); it != moved.rend(); ++it) {
        std::rename((folder / it->relative).c_str(), (fresh / it->relative).c_str());
        if (it->replaced)
            std::rename((previous / it->relative).c_str(), (folder / it->relative).c_str());
    }
    for (auto it = madeFolders.rbegin(); it != madeFolders.rend(); ++it)
        rmdir(it->c_str());
}

} // namespace

int InstallUpdate(const std::vector<UpdateFileEntry>& files, UpdateStepContext& context) {
    context.installed.clear();
    if (files.empty()) {
        context.failure = "no file entries";
        return 0;
    }
    const fs::path folder = context.folder;
    const std::string stagingText = MakePrivateFolder(context.folder, ".mistvale-update-");
    if (stagingText.empty()) {
        context.failure = "could not make a staging folder in " + context.folder;
        return 0;
    }
    const fs::path staging = stagingText;
    // Whatever happens, the staging folder goes at the end.
    struct Cleanup {
        fs::path path;
        ~Cleanup() {
            std::error_code ignored;
            fs::remove_all(path, ignored);
        }
    } cleanup{staging};
    const fs::path fresh = staging / "new";
    const fs::path previous = staging / "old";
    const fs::path downloads = staging / "downloads";
    std::error_code error;
    fs::create_directory(fresh, error);
    fs::create_directory(previous, error);
    fs::create_directory(downloads, error);
    if (error) {
        context.failure = "could not prepare the staging folder";
        return 0;
    }

    // 1. Everything downloaded, verified and unpacked beside the program; nothing of it touched yet.
    std::vector<std::string> named;
    for (const UpdateFileEntry& entry : files) {
        std::string target;
        if (entry.name.IsEmpty()) {
            const std::string name = UpdateRunFileName(entry);
            if (name.empty()) {
                context.failure = "the run file's address names no plain file";
                return 0;
            }
            // A folder of its own: nothing planted in the temporary folder can be written through.
            const std::string runFolder = MakePrivateFolder(context.tempFolder, "mistvale-run-");
            if (runFolder.empty()) {
                context.failure = "could not make a private folder in " + context.tempFolder;
                return 0;
            }
            target = InFolder(runFolder, name);
        } else {
            target = (downloads / (entry.zip.IsEmpty() ? entry.name : entry.zip).ToUtf8()).string();
        }
        FetchOptions options = context.fetch;
        options.maxBytes = entry.size;
        if (FetchToFile(entry.url.ToUtf8(), target, options) != FetchResult::Ok) {
            context.failure = "download failed: " + entry.url.ToUtf8();
            return 0;
        }
        const std::string signature = entry.signature.ToUtf8();
        if (!VerifyUpdateFile(target, context.versionText, SignedName(entry), signature, context.publicKey) &&
            (context.nextPublicKey.empty() ||
             !VerifyUpdateFile(target, context.versionText, SignedName(entry), signature,
                               context.nextPublicKey))) {
            std::remove(target.c_str());
            context.failure = "bad or missing signature: " + entry.url.ToUtf8();
            return 0;
        }
        if (entry.name.IsEmpty()) {
            context.runFile = target;
            continue;
        }
        const std::string name = entry.name.ToUtf8();
        named.push_back(name);
        if (!entry.zip.IsEmpty()) {
            const ZipResult unpacked = ExtractZip(target, fresh.string());
            if (unpacked != ZipResult::Ok) {
                context.failure = "could not unpack " + entry.zip.ToUtf8() + ": " + ZipResultText(unpacked);
                return 0;
            }
            struct stat info;
            if (lstat((fresh / name).c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
                context.failure = entry.zip.ToUtf8() + " holds no " + name;
                return 0;
            }
            continue;
        }
        // A download is an ordinary file; the new file takes the permissions of the one it replaces, so
        // a program stays executable (set-user and set-group bits are not carried over).
        struct stat old;
        const std::string current = InFolder(context.folder, name);
        if (stat(current.c_str(), &old) == 0 && chmod(target.c_str(), old.st_mode & 0777) != 0) {
            context.failure = "could not set the permissions of " + name;
            return 0;
        }
        if (std::rename(target.c_str(), (fresh / name).c_str()) != 0) {
            context.failure = "could not stage " + name;
            return 0;
        }
    }

    // 2. Into place, file by file; the first failure moves everything back.
    const std::vector<fs::path> incoming = FilesUnder(fresh);
    for (const fs::path& relative : incoming) {
        struct stat info;
        if (!NoLinkOnTheWay(folder, relative) ||
            (lstat((folder / relative).c_str(), &info) == 0 && !S_ISREG(info.st_mode))) {
            context.failure = "a link or folder stands where " + relative.string() + " goes";
            return 0;
        }
    }
    std::vector<Moved> moved;
    std::vector<fs::path> madeFolders;
    for (const fs::path& relative : incoming) {
        // Folders the file needs, from the top; remembered so that a failure removes them again.
        fs::path at = folder;
        for (const fs::path& part : relative.parent_path()) {
            at /= part;
            if (mkdir(at.c_str(), 0755) == 0)
                madeFolders.push_back(at);
        }
        Moved entry{relative, false};
        struct stat info;
        if (lstat((folder / relative).c_str(), &info) == 0) {
            fs::create_directories((previous / relative).parent_path(), error);
            if (error || std::rename((folder / relative).c_str(), (previous / relative).c_str()) != 0) {
                context.failure = "could not set aside " + relative.string();
                MoveBack(folder, fresh, previous, moved, madeFolders);
                return 0;
            }
            entry.replaced = true;
        }
        if (std::rename((fresh / relative).c_str(), (folder / relative).c_str()) != 0) {
            if (entry.replaced)
                std::rename((previous / relative).c_str(), (folder / relative).c_str());
            context.failure = "could not install " + relative.string();
            MoveBack(folder, fresh, previous, moved, madeFolders);
            return 0;
        }
        moved.push_back(entry);
    }

    // 3. The replaced files of the entries stay beside, as before an update set them aside.
    for (const std::string& name : named) {
        struct stat info;
        if (lstat((previous / name).c_str(), &info) == 0) {
            UpdateFileEntry entry;
            entry.name = WideString::FromUtf8(name.c_str());
            std::rename((previous / name).c_str(), UpdateSavedOldFile(context.folder, entry).c_str());
        }
    }
    for (const fs::path& relative : incoming) {
        const std::string top = relative.begin()->string();
        if (std::find(context.installed.begin(), context.installed.end(), top) == context.installed.end())
            context.installed.push_back(top);
    }
    return 1;
}

} // namespace mistvale
