#include "local_http_server.h"
#include "loopback_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>

namespace mistvale {

LocalHttpServer::LocalHttpServer(std::string root) : root_(std::move(root)) {}

LocalHttpServer::~LocalHttpServer() {
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    if (listen_ >= 0)
        close(listen_);
}

bool LocalHttpServer::Start() {
    listen_ = OpenLoopbackListener(16, port_);
    if (listen_ < 0)
        return false;
    thread_ = std::thread([this] { Serve(); });
    return true;
}

std::vector<std::string> LocalHttpServer::Bodies() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return bodies_;
}

std::vector<std::string> LocalHttpServer::Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

void LocalHttpServer::Serve() {
    // Bounded: a test that forgets its server still ends.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (!stop_ && std::chrono::steady_clock::now() < deadline) {
        pollfd wait{listen_, POLLIN, 0};
        if (poll(&wait, 1, 50) <= 0)
            continue;
        const int client = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        Answer(client);
        close(client);
    }
}

void LocalHttpServer::Answer(int client) {
    std::string request;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (request.find("\r\n\r\n") == std::string::npos && !stop_ &&
           std::chrono::steady_clock::now() < deadline) {
        pollfd wait{client, POLLIN, 0};
        if (poll(&wait, 1, 50) <= 0)
            continue;
        char buffer[4096];
        const ssize_t got = recv(client, buffer, sizeof buffer, 0);
        if (got <= 0)
            return;
        request.append(buffer, static_cast<size_t>(got));
    }
    const size_t headerEnd = request.find("\r\n\r\n");
    const std::string head = request.substr(0, headerEnd);
    size_t bodyLength = 0;
    for (const char* name : {"Content-Length: ", "content-length: "}) {
        const size_t at = head.find(name);
        if (at != std::string::npos)
            bodyLength = std::stoul(head.substr(at + std::strlen(name)));
    }
    std::string received = headerEnd == std::string::npos ? std::string() : request.substr(headerEnd + 4);
    while (received.size() < bodyLength && !stop_ && std::chrono::steady_clock::now() < deadline) {
        pollfd wait{client, POLLIN, 0};
        if (poll(&wait, 1, 50) <= 0)
            continue;
        char buffer[65536];
        const ssize_t got = recv(client, buffer, sizeof buffer, 0);
        if (got <= 0)
            break;
        received.append(buffer, static_cast<size_t>(got));
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(head);
        bodies_.push_back(received);
    }
    if (silent_) {
        while (!stop_ && silent_)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return;
    }
    std::string path;
    std::istringstream line(request);
    std::string method;
    line >> method >> path;
    path = path.substr(0, path.find('?'));
    std::string body;
    int status = status_;
    if (status == 0) {
        std::ifstream file(root_ + path, std::ios::binary);
        if (path.find("..") == std::string::npos && file) {
            std::ostringstream content;
            content << file.rdbuf();
            body = content.str();
            status = 200;
        } else {
            status = 404;
        }
    }
    std::string reply = "HTTP/1.0 " + std::to_string(status) +
                        " X\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n";
    if (status == 407)
        reply += "Proxy-Authenticate: Basic realm=\"test\"\r\n";
    reply += "\r\n" + body;
    for (size_t sent = 0; sent < reply.size();) {
        const ssize_t put = send(client, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
        if (put <= 0)
            return;
        sent += static_cast<size_t>(put);
    }
}

} // namespace mistvale
