#pragma once

namespace mistvale {

// A TCP port on 127.0.0.1 whose host never answers a connect: a listening socket whose backlog is
// full, so that the system drops every further connection request and the client waits out its own
// time-out, as with a switched-off device behind a router. Closed with the object.
class BlackholeListener {
public:
    BlackholeListener() = default;
    ~BlackholeListener();
    BlackholeListener(const BlackholeListener&) = delete;
    BlackholeListener& operator=(const BlackholeListener&) = delete;

    // Listens and fills the backlog; false when that failed.
    bool Open();
    int Port() const { return port_; }

private:
    int listen_ = -1;
    int fillers_[4] = {-1, -1, -1, -1};
    int port_ = 0;
};

} // namespace mistvale
