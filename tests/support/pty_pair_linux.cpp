#include "tests/support/pty_pair.h"

#include <chrono>
#include <sys/stat.h>
#include <thread>

namespace mistvale {

static bool Exists(const std::string& path) {
    struct stat info = {};
    // stat follows the link: the link must point at a terminal that exists.
    return stat(path.c_str(), &info) == 0 && S_ISCHR(info.st_mode);
}

bool PtyPair::Open(int timeoutMs) {
    if (!dir_.Ok() || socat_.Running())
        return false;
    devicePath_ = dir_.File("device");
    peerPath_ = dir_.File("peer");
    std::vector<std::string> argv = {"socat", "-d", "-d", "pty,raw,echo=0,link=" + devicePath_,
                                     "pty,raw,echo=0,link=" + peerPath_};
    if (!socat_.Start(argv, false, false, dir_.File("socat.log")))
        return false;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (Exists(devicePath_) && Exists(peerPath_))
            return true;
        if (!socat_.Running())
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    Close();
    return false;
}

void PtyPair::Close() {
    socat_.Stop(2000);
}

} // namespace mistvale
