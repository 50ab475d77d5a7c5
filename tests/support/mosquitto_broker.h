#pragma once
// A Mosquitto broker of the test's own on 127.0.0.1 (Debian's mosquitto), anonymous, no persistence.
// Stopped by Stop() or the destructor; Start again takes the same port, as a restarted broker would.

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

#include <string>

namespace mistvale {

class MosquittoBroker {
public:
    // Starts on port (0: a free one); true once it accepts connections (within 5 s).
    bool Start(int port = 0);
    // The same with a second listener that speaks TLS with the given certificate (PEM files).
    bool StartWithTls(const std::string& certFile, const std::string& keyFile);
    void Stop() { child_.Stop(2000); }
    int Port() const { return port_; }
    std::string Url() const { return "mqtt://127.0.0.1:" + std::to_string(port_); }
    std::string TlsUrl() const { return "mqtts://127.0.0.1:" + std::to_string(tlsPort_); }

private:
    TempDir dir_;
    ChildProcess child_;
    bool Launch(const std::string& extraConfig);
    int port_ = 0;
    int tlsPort_ = 0;
};

} // namespace mistvale
