#include "tests/support/mosquitto_broker.h"

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace mistvale {

namespace {

int FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    close(fd);
    return port;
}

bool Accepts(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return ok;
}

} // namespace

bool MosquittoBroker::Start(int port) {
    port_ = port != 0 ? port : (port_ != 0 ? port_ : FreePort());
    return Launch("");
}

bool MosquittoBroker::StartWithTls(const std::string& certFile, const std::string& keyFile) {
    port_ = FreePort();
    tlsPort_ = FreePort();
    return Launch("listener " + std::to_string(tlsPort_) + " 127.0.0.1\ncertfile " + certFile + "\nkeyfile " +
                  keyFile + "\n");
}

bool MosquittoBroker::Launch(const std::string& extraConfig) {
    const std::string config = "listener " + std::to_string(port_) +
                               " 127.0.0.1\nallow_anonymous true\npersistence false\n" + extraConfig;
    if (!dir_.Ok() || !dir_.WriteFile("mosquitto.conf", config))
        return false;
    if (!child_.Start({"/usr/sbin/mosquitto", "-c", dir_.File("mosquitto.conf")}, false, false,
                      dir_.File("broker.log")))
        return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
        if (Accepts(port_) && (tlsPort_ == 0 || Accepts(tlsPort_)))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

} // namespace mistvale
