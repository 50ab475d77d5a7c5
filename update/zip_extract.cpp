#include "update/zip_extract.h"

#include <zip.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

namespace mistvale {

namespace fs = std::filesystem;

namespace {

constexpr std::uint8_t kOpsysUnix = 3;

struct Entry {
    zip_uint64_t index = 0;
    std::string name;
    bool directory = false;
    std::uint64_t size = 0;
    mode_t mode = 0644;
};

bool SafeEntryName(const std::string& name) {
    if (name.empty() || name[0] == '/')
        return false;
    size_t segmentStart = 0;
    for (size_t i = 0; i <= name.size(); ++i) {
        if (i < name.size()) {
            const unsigned char c = static_cast<unsigned char>(name[i]);
            if (c < 0x20 || c == 0x7F || c == '\\' || c == ':')
                return false;
            if (c != '/')
                continue;
        }
        const std::string segment = name.substr(segmentStart, i - segmentStart);
        if (segment == "..")
            return false;
        // "a//b" and "a/./b" are harmless to the file system but no packer writes them.
        if ((segment.empty() || segment == ".") && i < name.size())
            return false;
        segmentStart = i + 1;
    }
    return true;
}

// A path below root whose existing parts are all real folders (no link leads elsewhere).
bool NoLinkOnTheWay(const fs::path& root, const fs::path& relative) {
    fs::path at = root;
    for (const fs::path& part : relative.parent_path()) {
        at /= part;
        struct stat info;
        if (lstat(at.c_str(), &info) != 0)
            return true; // made below, as a real folder
        if (!S_ISDIR(info.st_mode))
            return false;
    }
    return true;
}

ZipResult Unpack(zip_t* archive, const Entry& entry, const fs::path& target, std::uint64_t& total,
                 const ZipLimits& limits) {
    std::error_code error;
    fs::create_directories(target.parent_path(), error);
    if (error)
        return ZipResult::WriteFailed;
    std::unique_ptr<zip_file_t, int (*)(zip_file_t*)> file(zip_fopen_index(archive, entry.index, 0),
                                                           &zip_fclose);
    if (!file)
        return ZipResult::ReadFailed;
    const int out = open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (out < 0)
        return ZipResult::WriteFailed;
    ZipResult result = ZipResult::Ok;
    std::uint64_t written = 0;
    char buffer[65536];
    for (;;) {
        const zip_int64_t got = zip_fread(file.get(), buffer, sizeof buffer);
        if (got < 0) {
            result = ZipResult::ReadFailed;
            break;
        }
        if (got == 0)
            break;
        written += static_cast<std::uint64_t>(got);
        total += static_cast<std::uint64_t>(got);
        // The declared sizes were checked already; data beyond them is an archive that lies.
        if (written > entry.size || total > limits.maxTotalBytes) {
            result = ZipResult::TooLarge;
            break;
        }
        for (zip_int64_t done = 0; done < got;) {
            const ssize_t put = write(out, buffer + done, static_cast<size_t>(got - done));
            if (put <= 0) {
                result = ZipResult::WriteFailed;
                break;
            }
            done += put;
        }
        if (result != ZipResult::Ok)
            break;
    }
    if (result == ZipResult::Ok && fchmod(out, entry.mode) != 0)
        result = ZipResult::WriteFailed;
    if (close(out) != 0 && result == ZipResult::Ok)
        result = ZipResult::WriteFailed;
    return result;
}

ZipResult MoveIntoPlace(const fs::path& staging, const fs::path& folder, const std::vector<Entry>& entries) {
    std::error_code error;
    // All checked before the first move, so a refusal leaves the folder as it was.
    for (const Entry& entry : entries) {
        const fs::path relative(entry.name);
        if (!NoLinkOnTheWay(folder, entry.directory ? relative / "x" : relative))
            return ZipResult::UnsafeEntry;
        struct stat info;
        if (!entry.directory && lstat((folder / relative).c_str(), &info) == 0 && !S_ISREG(info.st_mode))
            return ZipResult::UnsafeEntry; // a folder or link where the file goes
    }
    for (const Entry& entry : entries) {
        const fs::path relative(entry.name);
        const fs::path target = folder / relative;
        if (entry.directory) {
            fs::create_directories(target, error);
            if (error)
                return ZipResult::WriteFailed;
            continue;
        }
        fs::create_directories(target.parent_path(), error);
        if (error)
            return ZipResult::WriteFailed;
        if (rename((staging / relative).c_str(), target.c_str()) != 0)
            return ZipResult::WriteFailed;
    }
    return ZipResult::Ok;
}

} // namespace

const char* ZipResultText(ZipResult result) {
    switch (result) {
    case ZipResult::Ok:
        return "unpacked";
    case ZipResult::CannotOpen:
        return "not a readable zip archive";
    case ZipResult::UnsafeEntry:
        return "an entry would be written outside the folder or is a link";
    case ZipResult::Encrypted:
        return "an entry is encrypted";
    case ZipResult::TooLarge:
        return "the archive unpacks larger than allowed or declared";
    case ZipResult::TooMany:
        return "the archive has too many entries";
    case ZipResult::ReadFailed:
        return "the archive could not be read";
    case ZipResult::WriteFailed:
        return "a file could not be written";
    }
    return "unknown";
}

ZipResult ExtractZip(const std::string& archivePath, const std::string& folder, const ZipLimits& limits) {
    int openError = 0;
    std::unique_ptr<zip_t, void (*)(zip_t*)> archive(
        zip_open(archivePath.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &openError), &zip_discard);
    if (!archive)
        return ZipResult::CannotOpen;
    const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
    if (count < 0)
        return ZipResult::CannotOpen;
    if (static_cast<std::uint64_t>(count) > limits.maxEntries)
        return ZipResult::TooMany;

    // Every entry is judged before anything is written.
    std::vector<Entry> entries;
    std::uint64_t declared = 0;
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t stat;
        zip_stat_init(&stat);
        if (zip_stat_index(archive.get(), static_cast<zip_uint64_t>(i), 0, &stat) != 0 ||
            !(stat.valid & ZIP_STAT_NAME) || !(stat.valid & ZIP_STAT_SIZE))
            return ZipResult::ReadFailed;
        Entry entry;
        entry.index = static_cast<zip_uint64_t>(i);
        entry.name = stat.name;
        if ((stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && stat.encryption_method != ZIP_EM_NONE)
            return ZipResult::Encrypted;
        entry.directory = !entry.name.empty() && entry.name.back() == '/';
        if (entry.directory)
            entry.name.pop_back();
        if (!SafeEntryName(entry.name))
            return ZipResult::UnsafeEntry;
        zip_uint8_t opsys = 0;
        zip_uint32_t attributes = 0;
        if (zip_file_get_external_attributes(archive.get(), entry.index, 0, &opsys, &attributes) == 0 &&
            opsys == kOpsysUnix) {
            const mode_t mode = static_cast<mode_t>(attributes >> 16);
            if (S_ISLNK(mode) || (S_ISDIR(mode) && !entry.directory))
                return ZipResult::UnsafeEntry;
            if (mode & 0777)
                entry.mode = mode & 0777; // set-user, set-group and sticky bits dropped
        }
        entry.size = stat.size;
        declared += stat.size;
        if (stat.size > limits.maxTotalBytes || declared > limits.maxTotalBytes)
            return ZipResult::TooLarge;
        entries.push_back(entry);
    }

    // Unpacked beside the target first, on the same file system, so the final moves are renames.
    std::string pattern = (fs::path(folder) / ".unpack-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        return ZipResult::WriteFailed;
    const fs::path staging(pattern);
    ZipResult result = ZipResult::Ok;
    std::uint64_t total = 0;
    std::error_code error;
    for (const Entry& entry : entries) {
        const fs::path target = staging / entry.name;
        if (entry.directory) {
            fs::create_directories(target, error);
            if (error)
                result = ZipResult::WriteFailed;
        } else {
            result = Unpack(archive.get(), entry, target, total, limits);
        }
        if (result != ZipResult::Ok)
            break;
    }
    if (result == ZipResult::Ok)
        result = MoveIntoPlace(staging, fs::path(folder), entries);
    fs::remove_all(staging, error);
    return result;
}

} // namespace mistvale
