#pragma once
// A small HTTP/1.0 server on 127.0.0.1 for tests: serves the files of a folder (the query of a request
// is ignored, as a static web server does), records every request line, and can be told to answer
// every request with one status or to never answer at all. It runs on its own thread, handles one
// connection at a time, and stops with the object.
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace mistvale {

class LocalHttpServer {
public:
    explicit LocalHttpServer(std::string root);
    ~LocalHttpServer();
    LocalHttpServer(const LocalHttpServer&) = delete;
    LocalHttpServer& operator=(const LocalHttpServer&) = delete;

    bool Start();
    int Port() const { return port_; }
    std::string BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }

    // 0: serve files (404 for a missing one); another number: answer it with an empty body.
    void SetStatus(int status) { status_ = status; }
    // Accept connections but never answer.
    void SetSilent(bool silent) { silent_ = silent; }
    // The request lines ("GET /path?query HTTP/1.1") and their headers, in order.
    std::vector<std::string> Requests() const;
    // The bodies of the requests (as long as their Content-Length), in the same order.
    std::vector<std::string> Bodies() const;

private:
    void Serve();
    void Answer(int client);

    std::string root_;
    int listen_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> status_{0};
    std::atomic<bool> silent_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
    std::vector<std::string> bodies_;
    std::thread thread_;
};

} // namespace mistvale
