#include "sim/sim_server.h"

#include "sim/control_commands.h"
#include "sim/modbus_frame.h"
#include "sim/request_handler.h"
#include "sim/request_log.h"
#include "sim/stop_signals.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <modbus/modbus.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace mvsim {

using Clock = std::chrono::steady_clock;

struct SimConnection {
    uint64_t id = 0;
    int fd = -1;
    std::vector<uint8_t> input;
};

struct SimPendingReply {
    Clock::time_point due;
    uint64_t connection = 0; // 0: the RTU line
    std::vector<uint8_t> bytes;
};

static void WriteLine(int fd, const std::string& text) {
    std::string line = text + "\n";
    size_t done = 0;
    while (done < line.size()) {
        ssize_t n = write(fd, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<size_t>(n);
    }
}

// Writes everything, waiting at most a bounded time for room on a non-blocking descriptor.
static bool WriteAll(int fd, const uint8_t* data, size_t length, bool socket) {
    size_t done = 0;
    auto deadline = Clock::now() + std::chrono::milliseconds(500);
    while (done < length) {
        ssize_t n = socket ? send(fd, data + done, length - done, MSG_NOSIGNAL)
                           : write(fd, data + done, length - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && Clock::now() < deadline) {
            pollfd p = {fd, POLLOUT, 0};
            poll(&p, 1, 20);
            continue;
        }
        return false;
    }
    return true;
}

static void SetNonBlocking(int fd) {
    int flags = fcntl(fd, F_GETFL, 0);
    if (flags >= 0)
        fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

double RtuFrameSeconds(size_t bytes, int baud) {
    return (static_cast<double>(bytes) + 3.5) * 11.0 / std::max(baud, 1);
}

class SimServer {
public:
    SimServer(const SimServerOptions& options, std::vector<std::unique_ptr<SimDevice>>& devices)
        : options_(options), devices_(devices), start_(Clock::now()) {}
    ~SimServer();

    int Run();

private:
    bool SetUp();
    uint64_t ElapsedMs() const {
        return static_cast<uint64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_).count());
    }
    SimDevice* FindDevice(unsigned slave) {
        for (auto& device : devices_)
            if (device->Slave() == slave)
                return device.get();
        return nullptr;
    }

    void AcceptClients();
    void ReadClient(SimConnection& client);
    void CloseClient(uint64_t id, bool reset);
    void ReadRtu();
    void ProcessRtuBuffer();
    void ReadControl(int fd, std::string& buffer, bool fromStdin, bool& open);
    void RunCommand(const std::string& line, int replyFd);
    void SendDueReplies();
    Clock::duration PollWait() const;

    // Handles one request PDU; `connection` is 0 for the RTU line.
    void HandleFrame(uint64_t connection, uint16_t transactionId, unsigned slave, const uint8_t* pdu,
                     size_t length);

    const SimServerOptions& options_;
    std::vector<std::unique_ptr<SimDevice>>& devices_;
    Clock::time_point start_;
    RequestLog log_;
    bool quit_ = false;

    modbus_t* tcpContext_ = nullptr;
    int listenFd_ = -1;
    std::vector<SimConnection> clients_;
    uint64_t nextClientId_ = 1;
    uint64_t accepted_ = 0; // TCP connections accepted since the start

    modbus_t* rtuContext_ = nullptr;
    int rtuFd_ = -1;
    std::vector<uint8_t> rtuInput_;
    Clock::time_point rtuLastByte_;
    std::chrono::milliseconds rtuGap_{5};

    int controlListenFd_ = -1;
    struct ControlClient {
        int fd;
        std::string buffer;
        bool open;
    };
    std::vector<ControlClient> controlClients_;
    bool stdinOpen_ = true;
    std::string stdinBuffer_;

    std::deque<SimPendingReply> pending_;
};

SimServer::~SimServer() {
    for (SimConnection& client : clients_)
        close(client.fd);
    for (ControlClient& control : controlClients_)
        close(control.fd);
    if (controlListenFd_ >= 0) {
        close(controlListenFd_);
        unlink(options_.controlPath.c_str());
    }
    if (tcpContext_ != nullptr) {
        if (listenFd_ >= 0)
            close(listenFd_);
        modbus_free(tcpContext_);
    }
    if (rtuContext_ != nullptr) {
        modbus_close(rtuContext_);
        modbus_free(rtuContext_);
    }
}

bool SimServer::SetUp() {
    if (!options_.framesPath.empty() && !log_.OpenFrames(options_.framesPath)) {
        WriteLine(2, "mistvale-sim: cannot write the frame log " + options_.framesPath + ": " +
                         std::strerror(errno));
        return false;
    }
    if (!options_.logPath.empty() && !log_.Open(options_.logPath)) {
        WriteLine(2, "mistvale-sim: cannot write the log " + options_.logPath + ": " + std::strerror(errno));
        return false;
    }
    if (options_.tcp) {
        tcpContext_ = modbus_new_tcp_pi(options_.tcpAddress.c_str(), options_.tcpPort.c_str());
        if (tcpContext_ == nullptr) {
            WriteLine(2, "mistvale-sim: bad TCP address or port");
            return false;
        }
        listenFd_ = modbus_tcp_pi_listen(tcpContext_, 128);
        if (listenFd_ < 0) {
            WriteLine(2, "mistvale-sim: cannot listen on " + options_.tcpAddress + " port " +
                             options_.tcpPort + ": " + modbus_strerror(errno));
            return false;
        }
        SetNonBlocking(listenFd_);
        sockaddr_storage address = {};
        socklen_t size = sizeof address;
        getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &size);
        unsigned port = address.ss_family == AF_INET6
                            ? ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port)
                            : ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
        WriteLine(1, "tcp " + options_.tcpAddress + " " + std::to_string(port));
    }
    if (!options_.rtuDevice.empty()) {
        rtuContext_ = modbus_new_rtu(options_.rtuDevice.c_str(), options_.baud, options_.parity, 8, 1);
        if (rtuContext_ == nullptr || modbus_connect(rtuContext_) != 0) {
            WriteLine(2, "mistvale-sim: cannot open " + options_.rtuDevice + ": " + modbus_strerror(errno));
            if (rtuContext_ != nullptr) {
                modbus_free(rtuContext_);
                rtuContext_ = nullptr;
            }
            return false;
        }
        rtuFd_ = modbus_get_socket(rtuContext_);
        SetNonBlocking(rtuFd_);
        // A frame ends after 3.5 character times of silence (11 bits a character); a pseudo-terminal
        // delivers with some jitter, so never less than a few milliseconds.
        long gap = static_cast<long>(3.5 * 11 * 1000 / std::max(options_.baud, 1)) + 1;
        rtuGap_ = std::chrono::milliseconds(std::max(gap, 5L));
        WriteLine(1, "rtu " + options_.rtuDevice);
    }
    if (!options_.controlPath.empty()) {
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        if (options_.controlPath.size() >= sizeof address.sun_path) {
            WriteLine(2, "mistvale-sim: control socket path too long");
            return false;
        }
        std::strcpy(address.sun_path, options_.controlPath.c_str());
        unlink(options_.controlPath.c_str());
        controlListenFd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (controlListenFd_ < 0 ||
            bind(controlListenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(controlListenFd_, 8) != 0) {
            WriteLine(2, "mistvale-sim: cannot create the control socket " + options_.controlPath + ": " +
                             std::strerror(errno));
            return false;
        }
        SetNonBlocking(controlListenFd_);
        WriteLine(1, "control " + options_.controlPath);
    }
    SetNonBlocking(0);
    return true;
}

void SimServer::AcceptClients() {
    for (;;) {
        int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        clients_.push_back(SimConnection{nextClientId_++, fd, {}});
        ++accepted_;
    }
}

void SimServer::CloseClient(uint64_t id, bool reset) {
    for (size_t i = 0; i < clients_.size(); ++i) {
        if (clients_[i].id == id) {
            if (reset) {
                linger hard = {1, 0};
                setsockopt(clients_[i].fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
            }
            close(clients_[i].fd);
            clients_.erase(clients_.begin() + static_cast<std::ptrdiff_t>(i));
            break;
        }
    }
    pending_.erase(std::remove_if(pending_.begin(), pending_.end(),
                                  [id](const SimPendingReply& reply) { return reply.connection == id; }),
                   pending_.end());
}

void SimServer::ReadClient(SimConnection& client) {
    uint8_t buffer[4096];
    const uint64_t id = client.id;
    ssize_t n = recv(client.fd, buffer, sizeof buffer, 0);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
        CloseClient(id, false);
        return;
    }
    if (n < 0)
        return;
    client.input.insert(client.input.end(), buffer, buffer + n);
    // Frames: transaction id, protocol id 0, length, unit id, PDU. HandleFrame may close this client,
    // so it is looked up again after each frame.
    for (;;) {
        auto it = std::find_if(clients_.begin(), clients_.end(),
                               [id](const SimConnection& c) { return c.id == id; });
        if (it == clients_.end())
            return;
        std::vector<uint8_t>& in = it->input;
        if (in.size() < 7)
            return;
        unsigned protocol = (in[2] << 8) | in[3];
        unsigned length = (in[4] << 8) | in[5];
        if (protocol != 0 || length < 2 || length > 254) {
            CloseClient(id, false);
            return;
        }
        if (in.size() < 6 + length)
            return;
        std::vector<uint8_t> frame(in.begin(), in.begin() + 6 + length);
        in.erase(in.begin(), in.begin() + 6 + length);
        log_.WriteFrame("rx", frame.data(), frame.size());
        uint16_t transaction = static_cast<uint16_t>((frame[0] << 8) | frame[1]);
        HandleFrame(id, transaction, frame[6], frame.data() + 7, length - 1);
    }
}

void SimServer::HandleFrame(uint64_t connection, uint16_t transactionId, unsigned slave, const uint8_t* pdu,
                            size_t length) {
    const bool rtu = connection == 0;
    const char* transport = rtu ? "rtu" : "tcp";
    RequestSummary summary;
    SummarizeRequest(pdu, length, summary);
    auto logLine = [&](const std::string& outcome) {
        log_.Write(transport, slave, summary.function, summary.address, summary.count, outcome);
    };

    SimDevice* device = FindDevice(slave);
    std::vector<uint8_t> reply;
    if (device == nullptr) {
        if (rtu) {
            // Another slave's request (or a broadcast to nobody here): a bus device keeps quiet.
            logLine("ignored");
            return;
        }
        BuildException(summary.function, 0x0B, reply);
        std::vector<uint8_t> frame;
        AppendTcpFrame(frame, transactionId, static_cast<uint8_t>(slave), reply);
        pending_.push_back(SimPendingReply{Clock::now(), connection, frame});
        log_.WriteFrame("tx", frame.data(), frame.size());
        logLine("nodevice");
        return;
    }
    SimFaults& faults = device->faults;
    if (!rtu && faults.dropCount > 0) {
        --faults.dropCount;
        logLine("drop");
        CloseClient(connection, faults.dropWithReset);
        return;
    }
    const bool tooMany = faults.maxItems != 0 && summary.function >= 1 && summary.function <= 4 &&
                         summary.count > faults.maxItems;
    if (faults.silent || (tooMany && faults.maxItemsSilent)) {
        logLine("silent");
        return;
    }
    std::vector<uint8_t> frame;
    std::string outcome = "reply";
    if (faults.hasNextReply) {
        faults.hasNextReply = false;
        if (faults.nextRaw)
            frame = faults.nextReply;
        else
            reply = faults.nextReply;
        outcome = "reply";
    } else if (tooMany) {
        BuildException(summary.function, 3, reply);
        outcome = "exception:3";
    } else if (faults.exception != 0 &&
               (faults.exceptionFunction == 0 || faults.exceptionFunction == summary.function)) {
        BuildException(summary.function, faults.exception, reply);
        outcome = "exception:" + std::to_string(faults.exception);
    } else {
        uint8_t code = HandleRequest(*device, pdu, length, ElapsedMs(), reply);
        if (code != 0)
            outcome = "exception:" + std::to_string(code);
    }
    if (rtu && slave == 0) {
        logLine("ignored");
        return;
    }
    if (frame.empty()) {
        if (rtu)
            AppendRtuFrame(frame, static_cast<uint8_t>(slave), reply, faults.corruptCrc);
        else
            AppendTcpFrame(frame, transactionId, static_cast<uint8_t>(slave), reply);
    }
    logLine(outcome);
    log_.WriteFrame("tx", frame.data(), frame.size());
    Clock::time_point due = Clock::now() + std::chrono::milliseconds(faults.lateMs);
    if (rtu && options_.pace) {
        // The request arrived at once over the pseudo-terminal; on a real line its last byte and the
        // reply's would come this much later.
        const double line =
            RtuFrameSeconds(length + 3, options_.baud) + RtuFrameSeconds(frame.size(), options_.baud);
        due += std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(line));
    }
    if (faults.dripMs > 0) {
        // A device that trickles its reply: every byte on its own, dripMs after the one before.
        for (size_t i = 0; i < frame.size(); ++i) {
            pending_.push_back(SimPendingReply{due + std::chrono::milliseconds(faults.dripMs * i), connection,
                                               std::vector<uint8_t>{frame[i]}});
        }
    } else {
        pending_.push_back(SimPendingReply{due, connection, frame});
    }
    // Replies leave in the order of their due times; equal times keep their arrival order.
    std::stable_sort(pending_.begin(), pending_.end(),
                     [](const SimPendingReply& a, const SimPendingReply& b) { return a.due < b.due; });
}

void SimServer::ReadRtu() {
    uint8_t buffer[1024];
    for (;;) {
        ssize_t n = read(rtuFd_, buffer, sizeof buffer);
        if (n > 0) {
            rtuInput_.insert(rtuInput_.end(), buffer, buffer + n);
            rtuLastByte_ = Clock::now();
            continue;
        }
        return;
    }
}

void SimServer::ProcessRtuBuffer() {
    const auto now = Clock::now();
    while (!rtuInput_.empty()) {
        if (rtuInput_.size() > MODBUS_MAX_ADU_LENGTH * 2) {
            rtuInput_.clear();
            return;
        }
        int length = RtuRequestLength(rtuInput_.data(), rtuInput_.size());
        size_t frameLength = 0;
        if (length > 0 && rtuInput_.size() >= static_cast<size_t>(length)) {
            frameLength = static_cast<size_t>(length);
        } else if (length < 0 && now - rtuLastByte_ >= rtuGap_) {
            // No length rule for this function: the pause ends the frame.
            frameLength = rtuInput_.size();
        } else {
            // Incomplete: a frame that stopped arriving is noise and is thrown away.
            if (now - rtuLastByte_ >= std::chrono::milliseconds(50))
                rtuInput_.clear();
            return;
        }
        const uint8_t* frame = rtuInput_.data();
        log_.WriteFrame("rx", frame, frameLength);
        bool crcOk = frameLength >= 4 &&
                     ModbusCrc16(frame, frameLength - 2) ==
                         static_cast<uint16_t>(frame[frameLength - 2] | (frame[frameLength - 1] << 8));
        if (!crcOk) {
            RequestSummary summary;
            SummarizeRequest(frame + 1, frameLength > 3 ? frameLength - 3 : 0, summary);
            log_.Write("rtu", frame[0], frameLength > 1 ? frame[1] : 0, summary.address, summary.count,
                       "badcrc");
            // Lost synchronisation: drop everything received so far.
            rtuInput_.clear();
            return;
        }
        std::vector<uint8_t> request(frame, frame + frameLength);
        rtuInput_.erase(rtuInput_.begin(), rtuInput_.begin() + static_cast<std::ptrdiff_t>(frameLength));
        HandleFrame(0, 0, request[0], request.data() + 1, frameLength - 3);
    }
}

void SimServer::RunCommand(const std::string& line, int replyFd) {
    std::string reply;
    if (line == "connections") {
        // TCP connections accepted since the start: the server's business, not a device's.
        WriteLine(replyFd, std::to_string(accepted_));
        return;
    }
    if (RunControlCommand(line, devices_, ElapsedMs(), reply) == ControlOutcome::Quit)
        quit_ = true;
    WriteLine(replyFd, reply);
}

void SimServer::ReadControl(int fd, std::string& buffer, bool fromStdin, bool& open) {
    char chunk[1024];
    ssize_t n = read(fd, chunk, sizeof chunk);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
        open = false;
        return;
    }
    if (n < 0)
        return;
    buffer.append(chunk, static_cast<size_t>(n));
    size_t end;
    while ((end = buffer.find('\n')) != std::string::npos) {
        std::string line = buffer.substr(0, end);
        buffer.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos)
            continue;
        RunCommand(line, fromStdin ? 1 : fd);
    }
    if (buffer.size() > 65536)
        buffer.clear();
}

void SimServer::SendDueReplies() {
    const auto now = Clock::now();
    while (!pending_.empty() && pending_.front().due <= now) {
        SimPendingReply reply = std::move(pending_.front());
        pending_.pop_front();
        if (reply.connection == 0) {
            if (rtuFd_ >= 0)
                WriteAll(rtuFd_, reply.bytes.data(), reply.bytes.size(), false);
            continue;
        }
        for (SimConnection& client : clients_) {
            if (client.id == reply.connection) {
                if (!WriteAll(client.fd, reply.bytes.data(), reply.bytes.size(), true))
                    CloseClient(reply.connection, false);
                break;
            }
        }
    }
}

Clock::duration SimServer::PollWait() const {
    // To the microsecond: a paced line's replies are due a few milliseconds apart.
    auto now = Clock::now();
    Clock::duration wait = std::chrono::milliseconds(100);
    if (!pending_.empty())
        wait = std::min(wait, pending_.front().due - now);
    if (!rtuInput_.empty())
        wait = std::min(wait, rtuLastByte_ + rtuGap_ - now);
    return std::max(wait, Clock::duration::zero());
}

int SimServer::Run() {
    if (!SetUp())
        return 2;
    WriteLine(1, "ready");
    const auto deadline = start_ + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                                       options_.maxSeconds > 0 ? options_.maxSeconds : 0));
    std::vector<pollfd> fds;
    while (!quit_ && !StopRequested()) {
        if (options_.maxSeconds > 0 && Clock::now() >= deadline)
            break;
        fds.clear();
        if (listenFd_ >= 0)
            fds.push_back({listenFd_, POLLIN, 0});
        if (rtuFd_ >= 0)
            fds.push_back({rtuFd_, POLLIN, 0});
        if (controlListenFd_ >= 0)
            fds.push_back({controlListenFd_, POLLIN, 0});
        if (stdinOpen_)
            fds.push_back({0, POLLIN, 0});
        for (const ControlClient& control : controlClients_)
            fds.push_back({control.fd, POLLIN, 0});
        for (const SimConnection& client : clients_)
            fds.push_back({client.fd, POLLIN, 0});
        const auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(PollWait()).count();
        const timespec timeout = {static_cast<time_t>(wait / 1000000000),
                                  static_cast<long>(wait % 1000000000)};
        int ready = ppoll(fds.data(), fds.size(), &timeout, nullptr);
        if (ready < 0 && errno != EINTR)
            break;
        for (const pollfd& p : fds) {
            if (ready <= 0 || p.revents == 0)
                continue;
            if (p.fd == listenFd_) {
                AcceptClients();
            } else if (p.fd == rtuFd_) {
                ReadRtu();
            } else if (p.fd == controlListenFd_) {
                int fd = accept4(controlListenFd_, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd >= 0)
                    controlClients_.push_back(ControlClient{fd, {}, true});
            } else if (p.fd == 0 && stdinOpen_) {
                ReadControl(0, stdinBuffer_, true, stdinOpen_);
                if (!stdinOpen_ && options_.exitOnEof)
                    quit_ = true;
            } else {
                bool handled = false;
                for (ControlClient& control : controlClients_) {
                    if (control.fd == p.fd) {
                        ReadControl(control.fd, control.buffer, false, control.open);
                        handled = true;
                        break;
                    }
                }
                if (!handled) {
                    for (SimConnection& client : clients_) {
                        if (client.fd == p.fd) {
                            ReadClient(client);
                            break;
                        }
                    }
                }
            }
        }
        for (size_t i = controlClients_.size(); i-- > 0;) {
            if (!controlClients_[i].open) {
                close(controlClients_[i].fd);
                controlClients_.erase(controlClients_.begin() + static_cast<std::ptrdiff_t>(i));
            }
        }
        if (rtuFd_ >= 0)
            ProcessRtuBuffer();
        SendDueReplies();
    }
    return 0;
}

int RunSimServer(const SimServerOptions& options, std::vector<std::unique_ptr<SimDevice>>& devices) {
    InstallStopSignals();
    SimServer server(options, devices);
    return server.Run();
}

} // namespace mvsim
