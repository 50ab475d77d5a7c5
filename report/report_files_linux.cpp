#include "report/report_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace mistvale {

namespace {

bool WriteFile(const std::string& path, const std::string& bytes) {
    // Reports hold memory of the process: for the user alone, also when an older report is replaced.
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    if (fchmod(fd, 0600) != 0) {
        close(fd);
        return false;
    }
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = write(fd, bytes.data() + done, bytes.size() - done);
        if (put <= 0) {
            close(fd);
            unlink(path.c_str());
            return false;
        }
        done += static_cast<size_t>(put);
    }
    return close(fd) == 0;
}

std::string WithoutExtension(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash + 1))
        return path.substr(0, dot);
    return path;
}

std::string TemporaryBase() {
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/MiniDump";
}

std::string WriteOne(const std::string& programPath, const char* suffix, const std::string& bytes) {
    for (const std::string& base : {WithoutExtension(programPath), TemporaryBase()}) {
        if (base.empty())
            continue;
        std::string path = base + suffix;
        if (WriteFile(path, bytes))
            return path;
    }
    return std::string();
}

} // namespace

ReportFiles WriteReportFiles(const std::string& programPath, const std::string& dump,
                             const std::string& text) {
    ReportFiles files;
    if (!dump.empty())
        files.dump = WriteOne(programPath, "_Debug.dmp", dump);
    files.text = WriteOne(programPath, "_Debug.txt", text);
    return files;
}

} // namespace mistvale
