#include "tests/support/child_process.h"

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace mistvale {

ChildProcess::~ChildProcess() {
    Stop(2000);
    CloseStdin();
    if (stdoutFd_ >= 0)
        close(stdoutFd_);
}

bool ChildProcess::Start(const std::vector<std::string>& argv, bool pipeStdin, bool pipeStdout,
                         const std::string& stderrPath) {
    if ((pid_ > 0 && !reaped_) || argv.empty())
        return false;
    CloseStdin();
    if (stdoutFd_ >= 0) {
        close(stdoutFd_);
        stdoutFd_ = -1;
    }
    int inPipe[2] = {-1, -1};
    int outPipe[2] = {-1, -1};
    if ((pipeStdin && pipe2(inPipe, O_CLOEXEC) != 0) || (pipeStdout && pipe2(outPipe, O_CLOEXEC) != 0)) {
        for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1]})
            if (fd >= 0)
                close(fd);
        return false;
    }
    int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
    int errFd =
        stderrPath.empty() ? -1 : open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);

    // Everything the child needs is prepared before fork: after it only async-signal-safe calls.
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    const bool search = argv[0].find('/') == std::string::npos;
    const pid_t parent = getpid();

    pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(127);
        dup2(pipeStdin ? inPipe[0] : devNull, 0);
        dup2(pipeStdout ? outPipe[1] : devNull, 1);
        if (errFd >= 0)
            dup2(errFd, 2);
        close_range(3, ~0U, 0);
        if (search)
            execvp(args[0], args.data());
        else
            execv(args[0], args.data());
        _exit(127);
    }
    for (int fd : {inPipe[0], outPipe[1], devNull, errFd})
        if (fd >= 0)
            close(fd);
    if (pid < 0) {
        for (int fd : {inPipe[1], outPipe[0]})
            if (fd >= 0)
                close(fd);
        return false;
    }
    pid_ = pid;
    reaped_ = false;
    stdinFd_ = inPipe[1];
    stdoutFd_ = outPipe[0];
    outputBuffer_.clear();
    return true;
}

bool ChildProcess::WriteLine(const std::string& line) {
    if (stdinFd_ < 0)
        return false;
    std::string text = line + "\n";
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(stdinFd_, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool ChildProcess::ReadLine(std::string& line, int timeoutMs) {
    if (stdoutFd_ < 0)
        return false;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        size_t end = outputBuffer_.find('\n');
        if (end != std::string::npos) {
            line = outputBuffer_.substr(0, end);
            outputBuffer_.erase(0, end + 1);
            return true;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd p = {stdoutFd_, POLLIN, 0};
        int ready = poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        char chunk[1024];
        ssize_t n = read(stdoutFd_, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        outputBuffer_.append(chunk, static_cast<size_t>(n));
    }
}

void ChildProcess::CloseStdin() {
    if (stdinFd_ >= 0) {
        close(stdinFd_);
        stdinFd_ = -1;
    }
}

bool ChildProcess::Running() {
    if (pid_ <= 0 || reaped_)
        return false;
    int status = 0;
    pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
        reaped_ = true;
        status_ = status;
        return false;
    }
    return true;
}

bool ChildProcess::WaitExit(int timeoutMs, int& status) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Running()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (pid_ <= 0)
        return false;
    status = status_;
    return true;
}

void ChildProcess::Signal(int signalNumber) {
    if (Running())
        kill(pid_, signalNumber);
}

int ChildProcess::Stop(int graceMs) {
    if (pid_ <= 0)
        return -1;
    int status = 0;
    if (Running()) {
        kill(pid_, SIGTERM);
        if (!WaitExit(graceMs, status)) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            reaped_ = true;
            status_ = status;
        }
    }
    return status_;
}

} // namespace mistvale
