#include "model/file_replace.h"

#include "model/record_file.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace mistvale {

namespace {

// Numbered names tried at most, so that a folder full of old copies cannot keep us looping.
constexpr int kMaxCopies = 10000;
// Letters after ".tmp." in the name of a temporary file.
constexpr int kTemporaryLetters = 8;
constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";

std::string FolderOf(const std::string& path) {
    std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

void SyncFolder(const std::string& folder) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Creates the folder and its missing parents (private to the user, as data folders are).
int MakeFolders(const std::string& folder) {
    struct stat info;
    if (::stat(folder.c_str(), &info) == 0)
        return S_ISDIR(info.st_mode) ? 1 : 0;
    std::string parent = FolderOf(folder);
    if (parent != folder && !MakeFolders(parent))
        return 0;
    return ::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST ? 1 : 0;
}

// Whether this user may replace the file. Root passes every access check, but a file that its owner
// made read-only is still not to be replaced behind their back.
bool MayReplace(const std::string& file, const struct stat& info) {
    if (::geteuid() != 0)
        return ::access(file.c_str(), W_OK) == 0;
    if (info.st_uid == 0)
        return (info.st_mode & S_IWUSR) != 0;
    return (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
}

} // namespace

std::string ResolveLinkTarget(const std::string& path) {
    std::string current = path;
    // Links may lead to links; a loop ends after as many steps as the system itself follows.
    for (int step = 0; step < 40; ++step) {
        struct stat info;
        if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            return current;
        std::string target(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : PATH_MAX) + 1, '\0');
        ssize_t length = ::readlink(current.c_str(), target.data(), target.size());
        if (length <= 0 || static_cast<std::size_t>(length) >= target.size())
            return current;
        target.resize(static_cast<std::size_t>(length));
        // A relative target is relative to the folder of the link, not to ours.
        current = target[0] == '/' ? target : FolderOf(current).append("/").append(target);
    }
    return current;
}

namespace {

// Opens a new file beside the target that nobody else uses; -1 when none can be made.
int CreateTemporary(const std::string& target, std::string& temporary) {
    unsigned seed = static_cast<unsigned>(::getpid()) * 2654435761u ^ static_cast<unsigned>(::time(nullptr));
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = target + ".tmp.";
        for (int i = 0; i < kTemporaryLetters; ++i) {
            seed = seed * 1103515245u + 12345u;
            name += kLetters[(seed >> 16) % (sizeof(kLetters) - 1)];
        }
        int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            temporary = name;
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    return -1;
}

int CopyFileExclusive(const std::string& from, const std::string& to) {
    int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return -1;
    int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0) {
        int error = errno;
        ::close(in);
        return error == EEXIST ? 0 : -1;
    }
    char buffer[65536];
    int ok = 1;
    for (;;) {
        ssize_t got = ::read(in, buffer, sizeof(buffer));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            ok = got == 0 ? 1 : 0;
            break;
        }
        if (!WriteAllBytes(out, buffer, static_cast<std::size_t>(got))) {
            ok = 0;
            break;
        }
    }
    if (ok && ::fsync(out) != 0)
        ok = 0;
    if (::close(out) != 0)
        ok = 0;
    ::close(in);
    if (!ok) {
        ::unlink(to.c_str());
        return -1;
    }
    return 1;
}

} // namespace

int PathExists(const std::string& path) {
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0 ? 1 : 0;
}

int ReplaceFileAtomically(const std::string& path, const std::string& bytes) {
    if (path.empty())
        return 0;
    // Through a link the target is replaced, in its own folder, and the link stays; a dangling link
    // gets its target created.
    std::string target = ResolveLinkTarget(path);
    std::string folder = FolderOf(target);
    struct stat existing;
    if (::stat(target.c_str(), &existing) == 0 && !MayReplace(target, existing)) {
        errno = EACCES; // a file the user made read-only is left as it is
        return 0;
    }
    if (!MakeFolders(folder))
        return 0;
    std::string temporary;
    int fd = CreateTemporary(target, temporary);
    if (fd < 0)
        return 0;
    int ok = 1;
    struct stat oldInfo;
    if (::stat(target.c_str(), &oldInfo) == 0)
        ::fchmod(fd, oldInfo.st_mode & 07777); // the new file keeps the old one's permissions
    if (!WriteAllBytes(fd, bytes.data(), bytes.size()) || ::fsync(fd) != 0)
        ok = 0;
    if (::close(fd) != 0)
        ok = 0;
    if (ok && ::rename(temporary.c_str(), target.c_str()) != 0)
        ok = 0;
    if (!ok) {
        const int error = errno;
        ::unlink(temporary.c_str());
        errno = error;
        return 0;
    }
    SyncFolder(folder);
    return 1;
}

int RemoveLeftoverTemporaries(const std::string& path, std::time_t olderThan) {
    std::vector<std::string> files{path};
    std::string target = ResolveLinkTarget(path);
    if (target != path)
        files.push_back(target); // saves through a link write beside the target
    int removed = 0;
    for (const std::string& file : files) {
        std::string::size_type slash = file.rfind('/');
        std::string prefix = (slash == std::string::npos ? file : file.substr(slash + 1)) + ".tmp.";
        DIR* dir = ::opendir(FolderOf(file).c_str());
        if (dir == nullptr)
            continue;
        while (const dirent* entry = ::readdir(dir)) {
            std::string name = entry->d_name;
            if (name.size() != prefix.size() + kTemporaryLetters ||
                name.compare(0, prefix.size(), prefix) != 0 ||
                name.find_first_not_of(kLetters, prefix.size()) != std::string::npos)
                continue;
            std::string full = FolderOf(file) + "/" + name;
            struct stat info;
            if (::lstat(full.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_mtime < olderThan &&
                ::unlink(full.c_str()) == 0)
                ++removed;
        }
        ::closedir(dir);
    }
    return removed;
}

int KeepCopyBeside(const std::string& path, const std::string& suffix, std::string* keptAs) {
    if (!PathExists(path))
        return 0;
    for (int number = 0; number < kMaxCopies; ++number) {
        std::string name = path + suffix;
        if (number > 0)
            name += "." + std::to_string(number);
        // A hard link costs nothing and needs no read access; a copy serves where links are missing.
        // Through a symbolic link the kept name must hold the target's content: a link to the
        // symbolic link itself would lose it as soon as the target is replaced.
        int result = -1;
        if (::linkat(AT_FDCWD, path.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0)
            result = 1;
        else if (errno == EEXIST)
            result = 0;
        else
            result = CopyFileExclusive(path, name);
        if (result == 1) {
            SyncFolder(FolderOf(name));
            if (keptAs != nullptr)
                *keptAs = name;
            return 1;
        }
        if (result < 0)
            return 0;
    }
    return 0;
}

} // namespace mistvale
