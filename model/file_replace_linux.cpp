#include "model/file_replace.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Numbered names tried at most, so that a folder full of old copies cannot keep us looping.
constexpr int kMaxCopies = 10000;

std::string FolderOf(const std::string& path) {
    std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    if (slash == 0) {
        return "/";
    }
    return path.substr(0, slash);
}

int WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return 0;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return 1;
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
    if (::stat(folder.c_str(), &info) == 0) {
        return S_ISDIR(info.st_mode) ? 1 : 0;
    }
    std::string parent = FolderOf(folder);
    if (parent != folder && !MakeFolders(parent)) {
        return 0;
    }
    return ::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST ? 1 : 0;
}

// The file a write to path ends in: the target when path is a symbolic link.
std::string ResolveTarget(const std::string& path) {
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
        return path;
    }
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        return path;
    }
    std::string target(resolved);
    std::free(resolved);
    return target;
}

// Opens a new file beside the target that nobody else uses; -1 when none can be made.
int CreateTemporary(const std::string& target, std::string& temporary) {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    unsigned seed = static_cast<unsigned>(::getpid()) * 2654435761u ^ static_cast<unsigned>(::time(nullptr));
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = target + ".tmp.";
        for (int i = 0; i < 8; ++i) {
            seed = seed * 1103515245u + 12345u;
            name += kLetters[(seed >> 16) % (sizeof(kLetters) - 1)];
        }
        int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            temporary = name;
            return fd;
        }
        if (errno != EEXIST) {
            return -1;
        }
    }
    return -1;
}

int CopyFileExclusive(const std::string& from, const std::string& to) {
    int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        return -1;
    }
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
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            ok = got == 0 ? 1 : 0;
            break;
        }
        if (!WriteAll(out, buffer, static_cast<std::size_t>(got))) {
            ok = 0;
            break;
        }
    }
    if (ok && ::fsync(out) != 0) {
        ok = 0;
    }
    if (::close(out) != 0) {
        ok = 0;
    }
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
    if (path.empty()) {
        return 0;
    }
    std::string target = ResolveTarget(path);
    std::string folder = FolderOf(target);
    if (!MakeFolders(folder)) {
        return 0;
    }
    std::string temporary;
    int fd = CreateTemporary(target, temporary);
    if (fd < 0) {
        return 0;
    }
    int ok = 1;
    struct stat old_info;
    if (::stat(target.c_str(), &old_info) == 0) {
        ::fchmod(fd, old_info.st_mode & 07777); // the new file keeps the old one's permissions
    }
    if (!WriteAll(fd, bytes.data(), bytes.size()) || ::fsync(fd) != 0) {
        ok = 0;
    }
    if (::close(fd) != 0) {
        ok = 0;
    }
    if (ok && ::rename(temporary.c_str(), target.c_str()) != 0) {
        ok = 0;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        return 0;
    }
    SyncFolder(folder);
    return 1;
}

int KeepCopyBeside(const std::string& path, const std::string& suffix, std::string* kept_as) {
    if (!PathExists(path)) {
        return 0;
    }
    for (int number = 0; number < kMaxCopies; ++number) {
        std::string name = path + suffix;
        if (number > 0) {
            name += "." + std::to_string(number);
        }
        // A hard link costs nothing and needs no read access; a copy serves where links are missing.
        int result = -1;
        if (::link(path.c_str(), name.c_str()) == 0) {
            result = 1;
        } else if (errno == EEXIST) {
            result = 0;
        } else {
            result = CopyFileExclusive(path, name);
        }
        if (result == 1) {
            SyncFolder(FolderOf(name));
            if (kept_as != nullptr) {
                *kept_as = name;
            }
            return 1;
        }
        if (result < 0) {
            return 0;
        }
    }
    return 0;
}
