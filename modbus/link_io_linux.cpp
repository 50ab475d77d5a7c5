#include "modbus/link_io.h"

#include "modbus/raw_reply.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace mistvale {

int PrepareSerialDevice(const char* devicePath) {
    if (!devicePath || !*devicePath)
        return 0;
    int fd = open(devicePath, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return 0;
    int busy = 0;
#ifdef TIOCGEXCL
    int exclusive = 0;
    if (ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive)
        busy = 1;
#endif
    if (!busy) {
        if (flock(fd, LOCK_EX | LOCK_NB) != 0)
            busy = errno == EWOULDBLOCK;
        else
            flock(fd, LOCK_UN);
    }
    if (!busy) {
        termios tios;
        if (tcgetattr(fd, &tios) == 0 && (tios.c_cflag & HUPCL)) {
            tios.c_cflag &= ~static_cast<tcflag_t>(HUPCL);
            tcsetattr(fd, TCSANOW, &tios);
        }
    }
    close(fd);
    if (busy)
        errno = EBUSY;
    return busy ? 0 : 1;
}

int ClaimSerialDevice(int fd) {
    if (fd < 0)
        return 0;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        return 0;
    ioctl(fd, TIOCEXCL);
    return 1;
}

void ReleaseSerialDevice(int fd) {
    if (fd < 0)
        return;
    ioctl(fd, TIOCNXCL);
    flock(fd, LOCK_UN);
}

int HostResolves(const char* host, const char* service) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (getaddrinfo(host, service, &hints, &list) != 0)
        return 0;
    freeaddrinfo(list);
    return 1;
}

void DiscardSerialInput(int fd) {
    if (fd >= 0)
        tcflush(fd, TCIFLUSH);
}

namespace {

using Clock = std::chrono::steady_clock;

// Waits until fd is readable or the time is over: 1 readable, 0 time-out, -1 error.
int WaitReadable(int fd, Clock::time_point deadline) {
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left < 0)
            left = 0;
        pollfd p{fd, POLLIN, 0};
        int rc = poll(&p, 1, static_cast<int>(left) + (left == 0 && Clock::now() < deadline ? 1 : 0));
        if (rc < 0 && errno == EINTR)
            continue;
        if (rc < 0)
            return -1;
        if (rc == 0)
            return 0;
        return 1;
    }
}

Clock::time_point After(long long us) {
    return Clock::now() + std::chrono::microseconds(us);
}

} // namespace

int SerialStaysQuiet(int fd, long long us, std::vector<uint8_t>* thrown) {
    if (fd < 0)
        return 0;
    const int ready = WaitReadable(fd, After(us));
    if (ready == 0)
        return 1;
    if (thrown != nullptr)
        ReadWaitingInput(fd, thrown, kRtuMaxFrame);
    tcflush(fd, TCIFLUSH);
    return 0;
}

void ReadWaitingInput(int fd, std::vector<uint8_t>* out, size_t capacity) {
    if (fd < 0 || out == nullptr)
        return;
    uint8_t buffer[kRtuMaxFrame];
    size_t taken = 0;
    while (taken < capacity) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 0) <= 0 || !(p.revents & POLLIN))
            return;
        const size_t room = std::min(sizeof buffer, capacity - taken);
        const ssize_t got = read(fd, buffer, room);
        if (got <= 0)
            return;
        out->insert(out->end(), buffer, buffer + got);
        taken += static_cast<size_t>(got);
    }
}

int ReceiveRawReply(int fd, bool tcp, uint8_t function, const ReplyTimeouts& timeouts, uint8_t* frame,
                    size_t capacity, size_t* length) {
    *length = 0;
    if (fd < 0 || !frame || capacity == 0) {
        errno = EBADF;
        return 0;
    }
    size_t have = 0;
    const Clock::time_point deadline = After(timeouts.totalUs);
    Clock::time_point pauseEnd = deadline;
    for (;;) {
        // How many bytes the frame has as far as we know; 0 when unknown yet.
        size_t want = 0;
        bool endsAtPause = false;
        if (tcp) {
            int total = TcpReplyLength(frame, have);
            if (total < 0) {
                *length = have;
                errno = EPROTO;
                return 0;
            }
            want = static_cast<size_t>(total);
        } else {
            int total = RtuReplyLength(frame, have, function);
            if (total > 0) {
                want = static_cast<size_t>(total);
            } else if (total < 0) {
                endsAtPause = have >= 4;
                size_t structural = RtuIdentificationLength(frame, have);
                if (structural && structural == have && CheckRtuReply(frame, have, frame[0], function)) {
                    *length = have;
                    return 1;
                }
            }
        }
        if (want && have >= want) {
            *length = want;
            return 1;
        }
        if (want > capacity) {
            *length = have;
            errno = EMSGSIZE;
            return 0;
        }
        int ready = WaitReadable(fd, endsAtPause && pauseEnd < deadline ? pauseEnd : deadline);
        if (ready < 0) {
            *length = have;
            return 0;
        }
        if (ready == 0) {
            if (endsAtPause) {
                *length = have;
                return 1;
            }
            *length = have;
            errno = ETIMEDOUT;
            return 0;
        }
        if (have >= capacity) {
            *length = have;
            errno = EMSGSIZE;
            return 0;
        }
        size_t room = capacity - have;
        if (want)
            room = want - have; // never take bytes of whatever follows the frame
        else if (tcp)
            room = kTcpHeaderLength > have ? kTcpHeaderLength - have : room;
        ssize_t got = read(fd, frame + have, room);
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            *length = have;
            return 0;
        }
        if (got == 0) {
            *length = have;
            errno = ECONNRESET;
            return 0;
        }
        have += static_cast<size_t>(got);
        pauseEnd = After(timeouts.pauseUs);
    }
}

} // namespace mistvale
