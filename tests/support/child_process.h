#pragma once
// A child process started from a test, with optional pipes to its standard input and from its
// standard output. The child is killed when the object ends (SIGTERM, then SIGKILL after a bound), and
// the system kills it too if the thread that started it ends first, so no child outlives its test.
// Start children from the thread that lives as long as they should (normally the test's own thread).

#include <string>
#include <sys/types.h>
#include <vector>

namespace mistvale {

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Runs argv[0] (a path; no search in PATH unless it has no "/") with the given arguments. With
    // pipeStdin/pipeStdout the child's standard input/output are pipes to this object, otherwise
    // /dev/null. `stderrPath`: file that receives its standard error; empty keeps the test's own.
    bool Start(const std::vector<std::string>& argv, bool pipeStdin, bool pipeStdout,
               const std::string& stderrPath = "");

    // Writes `line` and a newline to the child's standard input.
    bool WriteLine(const std::string& line);
    // Reads one line (without its newline) from the child's standard output, waiting at most
    // timeoutMs. False on time-out or when the output ended.
    bool ReadLine(std::string& line, int timeoutMs);
    // Closes the pipe to the child's standard input (the child sees end of file).
    void CloseStdin();

    bool Running();
    pid_t Pid() const { return pid_; }
    // Waits at most timeoutMs for the child to end by itself; true when it ended. `status` is the
    // raw wait status.
    bool WaitExit(int timeoutMs, int& status);
    // Sends SIGTERM, waits at most graceMs, then SIGKILL. Returns the wait status (also when the child
    // had already ended), or -1 when none was started. WaitExit still reports that status afterwards.
    int Stop(int graceMs = 3000);
    // Sends one signal without waiting.
    void Signal(int signalNumber);

private:
    pid_t pid_ = -1;
    bool reaped_ = false;
    int status_ = 0;
    int stdinFd_ = -1;
    int stdoutFd_ = -1;
    std::string outputBuffer_;
};

} // namespace mistvale
