#include "model/record_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mistvale {

int OpenForAppending(const std::string& path, bool* empty) {
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return -1;
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    *empty = info.st_size == 0;
    return fd;
}

int WriteAllBytes(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return 0;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return 1;
}

int FileStillNamed(int fd) {
    struct stat info;
    return ::fstat(fd, &info) == 0 && info.st_nlink > 0 ? 1 : 0;
}

void CloseFile(int fd) {
    if (fd >= 0)
        ::close(fd);
}

} // namespace mistvale
