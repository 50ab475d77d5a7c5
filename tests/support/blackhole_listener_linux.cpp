#include "tests/support/blackhole_listener.h"
#include "tests/support/loopback_listener.h"

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include <cerrno>

namespace mistvale {

BlackholeListener::~BlackholeListener() {
    for (int& fd : fillers_) {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
    if (listen_ >= 0)
        close(listen_);
}

bool BlackholeListener::Open() {
    listen_ = OpenLoopbackListener(0, port_);
    if (listen_ < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port_));
    // Connections that are never accepted fill the queue; after them the system answers nothing.
    for (int& fd : fillers_) {
        fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        // A non-blocking connect is under way when it returns (EINPROGRESS); one that failed at once
        // is one filler less, which the queue's size allows for.
        if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
            errno != EINPROGRESS) {
            close(fd);
            fd = -1;
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return true;
}

} // namespace mistvale
